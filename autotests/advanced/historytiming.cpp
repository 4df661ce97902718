// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Not a test: times the benchmark history page on a store of ROWS runs (default 100,000),
// offscreen, and the chart's aggregation on ROWS and on twice as many bars.
//   history-timing [ROWS]
// Prints one "name milliseconds" line per phase; scripts/benchmark-history.sh repeats it and
// takes medians and minimums.
#include "benchmarkhistorypage.h"
#include "benchmarkstorage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace
{
double msSince(const QElapsedTimer &clock)
{
    return clock.nsecsElapsed() / 1e6;
}

void report(const char *name, double ms)
{
    std::printf("%s %.1f\n", name, ms);
    std::fflush(stdout);
}

// The bars of a history of the given length: runs of twelve configurations, as the page
// would make them.
QVector<CVW::HistogramBar> bars(int count)
{
    QVector<CVW::HistogramBar> result;
    result.reserve(count);
    for (int i = 0; i < count; ++i) {
        result.append(CVW::HistogramBar(QStringLiteral("GPU %1. driver %2").arg(i % 4).arg(i % 3), 1000 + i % 997));
    }
    return result;
}

// One aggregation, in milliseconds.
double aggregation(const QVector<CVW::HistogramBar> &input, CVW::HistogramWidget::AggregationMode mode)
{
    QElapsedTimer clock;
    clock.start();
    const auto result = CVW::HistogramWidget::aggregateBars(input, mode);
    const double ms = msSince(clock);
    if (result.isEmpty()) {
        std::abort();
    }
    return ms;
}
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    BenchmarkStorage store(dir.filePath(QStringLiteral("benchmark.db")), QStringLiteral("timing"));
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("timing"));
        db.transaction();
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver, comment) VALUES (?, ?, ?, ?, ?)"));
        for (int i = 0; i < rows; ++i) {
            query.addBindValue(1700000000 + i * 60);
            query.addBindValue(800 + (i * 7919) % 1200);
            query.addBindValue(i % 2 ? QStringLiteral("NVIDIA GeForce GTX 1050 Ti") : QStringLiteral("Intel UHD Graphics 620"));
            query.addBindValue(QStringLiteral("driver_%1").arg(i % 3));
            query.addBindValue(i % 10 == 0 ? QVariant(QStringLiteral("run %1").arg(i % 7)) : QVariant());
            query.exec();
        }
        db.commit();
    }

    // From nothing to a page whose table is shown and whose chart is drawn.
    QElapsedTimer total;
    total.start();
    QElapsedTimer clock;
    clock.start();
    BenchmarkHistoryPage page(&store, nullptr);
    report("page-built", msSince(clock));
    clock.restart();
    page.resize(640, 420); // the page area of the advanced settings dialog
    page.show();
    if (!QTest::qWaitForWindowExposed(&page)) {
        return 1;
    }
    page.repaint();
    report("table-shown", msSince(clock));
    clock.restart();
    page.findChild<QCheckBox *>(QStringLiteral("chBoxChangeMode"))->click();
    report("chart-bars", msSince(clock));
    clock.restart();
    auto *chart = page.findChild<CVW::HistogramWidget *>(QStringLiteral("histogramWidget"));
    QCoreApplication::processEvents();
    chart->repaint();
    report("chart-drawn", msSince(clock));
    report("filled-and-drawn", msSince(total));

    auto *combo = page.findChild<QComboBox *>(QStringLiteral("aggregationCombo"));
    clock.restart();
    combo->setCurrentIndex(combo->findData(int(CVW::HistogramWidget::AllEntries)));
    QCoreApplication::processEvents();
    chart->repaint();
    report("all-entries-drawn", msSince(clock));

    clock.restart();
    store.insertResult(1234, QStringLiteral("Intel UHD Graphics 620"), QStringLiteral("driver_0"));
    QCoreApplication::processEvents();
    chart->repaint();
    report("new-run-redrawn", msSince(clock));

    page.findChild<QCheckBox *>(QStringLiteral("chBoxChangeMode"))->click();
    clock.restart();
    page.findChild<QLineEdit *>(QStringLiteral("lineEditSearch"))->setText(QStringLiteral("run 3"));
    page.repaint();
    report("search-filtered", msSince(clock));
    // The next keystroke of the same search.
    clock.restart();
    page.findChild<QLineEdit *>(QStringLiteral("lineEditSearch"))->setText(QStringLiteral("run 35"));
    page.repaint();
    report("search-next-key", msSince(clock));

    const QVector<CVW::HistogramBar> single = bars(rows);
    const QVector<CVW::HistogramBar> twice = bars(2 * rows);
    for (auto mode : {CVW::HistogramWidget::Average, CVW::HistogramWidget::Median, CVW::HistogramWidget::Maximum}) {
        // The fastest of many runs, the two sizes taking turns, so that both meet the same
        // competition for the processor.
        double one = 1e300;
        double two = 1e300;
        for (int run = 0; run < 31; ++run) {
            one = std::min(one, aggregation(single, mode));
            two = std::min(two, aggregation(twice, mode));
        }
        const QByteArray name = QMetaEnum::fromType<CVW::HistogramWidget::AggregationMode>().valueToKey(mode);
        std::printf("aggregate-%s %.2f %.2f %.2f\n", name.constData(), one, two, two / one);
    }
    return 0;
}
