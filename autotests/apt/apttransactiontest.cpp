// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// A real QApt transaction, committed through QApt::Backend and run by the real qaptworker3,
// inside harness/apt-transaction.sh (private bus, fixture universe, fake polkit, fake dpkg).

#include "visibleskip.h"
#include <QApt/Backend>
#include <QApt/Package>
#include <QApt/Transaction>

#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>

class AptTransactionTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commit_data();
    void commit();

private:
    QString m_dpkgLog;
    bool m_denied = false; // the environment's polkit authority refuses everything
};

void AptTransactionTest::initTestCase()
{
    m_dpkgLog = qEnvironmentVariable("APT_TXN_DPKG_LOG");
    if (m_dpkgLog.isEmpty() || qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")) {
        TEST_SKIP("run through autotests/harness/apt-transaction.sh (CTest does)");
    }
    m_denied = qEnvironmentVariable("APT_TXN_POLKIT_DENY") == QStringLiteral("1");
}

void AptTransactionTest::commit_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<bool>("purge");
    // Patterns that must each match one line of the fake dpkg's log.
    QTest::addColumn<QStringList>("expectedDpkgCalls");

    QTest::newRow("install a missing package") << QStringLiteral("mesa-va-drivers") << false
                                               << QStringList{QStringLiteral("^dpkg .* --unpack .*/repo/pool/mesa-va-drivers_22\\.3\\.6-1_amd64\\.deb$"),
                                                              QStringLiteral("^dpkg .* --configure --pending$")};
    QTest::newRow("install a driver package") << QStringLiteral("intel-driver-fixture") << false
                                              << QStringList{QStringLiteral("^dpkg .* --unpack .*/repo/pool/intel-driver-fixture_23\\.1-1_amd64\\.deb$")};
    QTest::newRow("purge an installed driver") << QStringLiteral("nvidia-driver-fixture") << true
                                               << QStringList{QStringLiteral("^dpkg .* --remove nvidia-driver-fixture:amd64$"),
                                                              QStringLiteral("^dpkg-stdin nvidia-driver-fixture:amd64\\s+purge$"),
                                                              QStringLiteral("^dpkg .* --purge --pending$")};
}

void AptTransactionTest::commit()
{
    QFETCH(QString, package);
    QFETCH(bool, purge);
    QFETCH(QStringList, expectedDpkgCalls);

    QFile log(m_dpkgLog);
    QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
    log.close();

    QApt::Backend backend;
    QVERIFY2(backend.init(), qPrintable(backend.initErrorMessage()));
    QApt::Package *target = backend.package(package);
    QVERIFY(target);
    QCOMPARE(target->isInstalled(), purge);
    if (purge) {
        target->setPurge();
    } else {
        target->setInstall();
    }
    QVERIFY(backend.areChangesMarked());

    std::unique_ptr<QApt::Transaction> transaction(backend.commitChanges());
    QVERIFY(transaction);
    QVERIFY2(!transaction->transactionId().isEmpty(), "the worker could not be reached on the bus");

    QList<int> progress;
    QList<QApt::ErrorCode> errors;
    bool finished = false;
    QApt::ExitStatus exitStatus = QApt::ExitFailed;
    QEventLoop loop;
    connect(transaction.get(), &QApt::Transaction::progressChanged, this, [&progress](int percent) {
        progress.append(percent);
    });
    connect(transaction.get(), &QApt::Transaction::errorOccurred, this, [&](QApt::ErrorCode code) {
        errors.append(code);
        if (m_denied) {
            loop.quit();
        }
    });
    connect(transaction.get(), &QApt::Transaction::finished, this, [&](QApt::ExitStatus status) {
        finished = true;
        exitStatus = status;
        loop.quit();
    });
    // Without an answer from the worker no finished signal comes: bound the wait.
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    transaction->run();
    loop.exec();

    if (m_denied) {
        // The worker asked the authority, was refused and handed nothing to dpkg.
        QCOMPARE(errors, QList<QApt::ErrorCode>{QApt::AuthError});
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray calls = log.readAll();
        QVERIFY2(!calls.contains("--unpack") && !calls.contains("--remove") && !calls.contains("--purge"), calls.constData());
        return;
    }
    QVERIFY2(finished, "the transaction did not finish within 60 s");
    QVERIFY2(errors.isEmpty(), qPrintable(transaction->errorDetails()));
    QCOMPARE(exitStatus, QApt::ExitSuccess);
    QCOMPARE(transaction->error(), QApt::Success);
    QVERIFY2(!progress.isEmpty(), "no progress was reported");
    for (int percent : qAsConst(progress)) {
        QVERIFY2(percent >= 0 && percent <= 100, qPrintable(QString::number(percent)));
    }

    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList calls = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &pattern : expectedDpkgCalls) {
        const QRegularExpression expected(pattern);
        QVERIFY(expected.isValid());
        const bool seen = std::any_of(calls.cbegin(), calls.cend(), [&expected](const QString &call) {
            return expected.match(call).hasMatch();
        });
        QVERIFY2(seen, qPrintable(QStringLiteral("no dpkg call matching \"%1\" in:\n%2").arg(pattern, calls.join(QLatin1Char('\n')))));
    }
    // Only the package asked for was unpacked or removed.
    const QRegularExpression touched(QStringLiteral(" --(?:unpack|remove) .*?(\\S+)$"));
    for (const QString &call : calls) {
        const QRegularExpressionMatch match = touched.match(call);
        if (match.hasMatch()) {
            QVERIFY2(match.captured(1).contains(package), qPrintable(call));
        }
    }
}

VISIBLE_SKIP_GUILESS_MAIN(AptTransactionTest)

#include "apttransactiontest.moc"
