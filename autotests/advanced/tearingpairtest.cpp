// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The pair of X configuration files a driver switch and the tearing prevention leave in
// /etc/X11/xorg.conf.d, built by the helper's own code, loaded by the real X server on its
// dummy driver. The tearing snippet sorts first and the server builds its screen on the first
// Device section it reads, so the pair starts only when both name the same driver; a tearing
// snippet naming another driver is the control that must fail with "no screens found".
#include "helperlogic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace
{
const QString xorgBinary = QStringLiteral("/usr/lib/xorg/Xorg");
const QString dummyDriver = QStringLiteral("/usr/lib/xorg/modules/drivers/dummy_drv.so");

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}
}

class TearingPairTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (geteuid() != 0) {
            QSKIP("the X server takes a configuration folder of its own only from root");
        }
        if (!QFileInfo(xorgBinary).isExecutable() || !QFileInfo::exists(dummyDriver)) {
            QSKIP("needs xserver-xorg-core and xserver-xorg-video-dummy");
        }
    }

    void pairLoads_data()
    {
        QTest::addColumn<QString>("tearingDriver");
        QTest::addColumn<bool>("starts");
        QTest::newRow("same driver") << QStringLiteral("dummy") << true;
        QTest::newRow("tearing names another driver") << QStringLiteral("modesetting") << false;
    }
    void pairLoads()
    {
        QFETCH(QString, tearingDriver);
        QFETCH(bool, starts);
        QTemporaryDir dir;
        const QString confDir = dir.filePath(QStringLiteral("xorg.conf.d"));
        QVERIFY(QDir().mkpath(confDir));
        const QString busId = HelperLogic::xorgBusId(QStringLiteral("PCI:00@0000:02:0"));
        QVERIFY(writeFile(confDir + QStringLiteral("/20-vela-admin-video-driver.conf"),
                          HelperLogic::buildXOrgSnippet(0x8086, QStringLiteral("UHD Graphics 620"), QStringLiteral("dummy"), busId).toUtf8()));
        QVERIFY(writeFile(confDir + QStringLiteral("/20-intel-tearing.conf"), HelperLogic::buildTearingConfig(tearingDriver, QStringLiteral("true")).toUtf8()));
        const QString emptyConfig = dir.filePath(QStringLiteral("xorg.conf"));
        QVERIFY(writeFile(emptyConfig, QByteArray()));

        // Under a lower-case name, so that tests asking "which X server runs" never see it.
        const QString server = dir.filePath(QStringLiteral("xorg-private"));
        QVERIFY(QFile::link(xorgBinary, server));
        const QString log = dir.filePath(QStringLiteral("x.log"));
        QProcess x;
        x.start(server,
                {QStringLiteral("-displayfd"),
                 QStringLiteral("1"),
                 QStringLiteral("-config"),
                 emptyConfig,
                 QStringLiteral("-configdir"),
                 confDir,
                 QStringLiteral("-logfile"),
                 log,
                 QStringLiteral("-nolisten"),
                 QStringLiteral("tcp"),
                 QStringLiteral("-noreset"),
                 QStringLiteral("-novtswitch"),
                 QStringLiteral("-sharevts"),
                 QStringLiteral("-ac")});
        QVERIFY(x.waitForStarted(5000));
        const bool ready = x.waitForReadyRead(20000) && !x.readAllStandardOutput().trimmed().isEmpty();
        if (x.state() == QProcess::Running) {
            x.terminate();
            x.waitForFinished(10000);
        }
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QByteArray text = logFile.readAll();
        QVERIFY2(ready == starts, text.right(3000).constData());
        QCOMPARE(text.contains("no screens found"), !starts);
        if (starts) {
            // The screen runs on the pair's driver, with the tearing snippet's option read.
            QVERIFY(text.contains("DUMMY(0)"));
            QVERIFY(text.contains("Device \"Intel Graphics\""));
        }
    }
};

QTEST_GUILESS_MAIN(TearingPairTest)
#include "tearingpairtest.moc"
