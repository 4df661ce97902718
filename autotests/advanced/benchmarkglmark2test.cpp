// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// One run of the real glmark2 from the benchmark page, drawn by Mesa on a private Xvfb
// (with-glmark2.sh real: a one-second benchmark instead of the full run).
#include "benchmarkpage.h"
#include "benchmarkscorefile.h"
#include "benchmarkstorage.h"

#include "dialoganswerer.h"
#include "visibleskip.h"
#include "widgetlookup.h"

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class BenchmarkGlmark2Test : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void realRun()
    {
        QTemporaryDir home;
        qputenv("HOME", home.path().toLocal8Bit());
        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);

        Device intel;
        intel.setIdentityForTest(QStringLiteral("Intel Corporation"),
                                 QStringLiteral("HD Graphics 620"),
                                 QStringLiteral("HD 620"),
                                 QStringLiteral("PCI:0@0:2:0"),
                                 QStringLiteral("0300"),
                                 VideoCardVendorId::Intel);
        intel.setDriverListForTest({{QStringLiteral("i915"), QStringLiteral("i915"), QString()}}, 0);
        BenchmarkPage page(intel, nullptr);
        page.show();
        auto *button = child<QPushButton>(&page, "runBenchmarkBtn");
        QTRY_VERIFY2(button->isEnabled(), "glmark2 -h did not answer");

        // What the page said while glmark2 was measuring.
        QStringList statuses;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            const QString status = child<QLabel>(&page, "runStatusLabel")->text();
            if (page.isRunning() && (statuses.isEmpty() || statuses.last() != status)) {
                statuses.append(status);
            }
        });
        poll.start();
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!page.isRunning(), 30000);
        poll.stop();
        qInfo() << "shown during the run:" << statuses;
        QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.describe()));
        QVERIFY(statuses.contains(QStringLiteral("Measuring [build] duration=1 (0 scenes done)")));

        const int score = child<QSpinBox>(&page, "currentScoreSpBox")->value();
        QVERIFY2(score > 0, "no score from glmark2");
        QCOMPARE(BenchmarkScoreFile::readScore(BenchmarkScoreFile::scoreFilePath()), score);
        std::unique_ptr<BenchmarkSqlModel> model(BenchmarkStorage::instance()->createModel(nullptr));
        QVERIFY(model);
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(model->record(0).value(QStringLiteral("fps")).toInt(), score);
        QCOMPARE(model->record(0).value(QStringLiteral("gpu")).toString(), QStringLiteral("HD Graphics 620"));
        QCOMPARE(model->record(0).value(QStringLiteral("driver")).toString(), QStringLiteral("i915"));
    }
};

VISIBLE_SKIP_MAIN(BenchmarkGlmark2Test)
#include "benchmarkglmark2test.moc"
