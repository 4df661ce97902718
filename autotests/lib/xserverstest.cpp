// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the X servers in a process list and the logs they write. The process lists are
// made-up /proc trees: a folder per process with its name, status and command line.
#include "xservers.h"
#include "systempaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>

namespace
{
struct FakeProcess {
    QByteArray pid;
    QByteArray name; // the kernel's name, as in /proc/PID/comm
    uint realUid;
    uint effectiveUid;
    QList<QByteArray> arguments;
};
}
Q_DECLARE_METATYPE(FakeProcess)

namespace
{

void writeProcess(const QString &root, const FakeProcess &process)
{
    const QString dir = root + QLatin1Char('/') + QString::fromLatin1(process.pid);
    QVERIFY(QDir().mkpath(dir));
    auto write = [&dir](const char *name, const QByteArray &data) {
        QFile file(dir + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    };
    write("comm", process.name + '\n');
    write("status",
          "Name:\t" + process.name + "\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t" + process.pid + "\nUid:\t" + QByteArray::number(process.realUid) + '\t'
              + QByteArray::number(process.effectiveUid) + '\t' + QByteArray::number(process.effectiveUid) + '\t' + QByteArray::number(process.effectiveUid)
              + "\nGid:\t0\t0\t0\t0\n");
    QByteArray cmdline;
    for (const QByteArray &argument : process.arguments) {
        cmdline += argument + '\0';
    }
    write("cmdline", cmdline);
}

QString homeOf(const char *user)
{
    const passwd *entry = getpwnam(user);
    return entry ? QString::fromLocal8Bit(entry->pw_dir) : QString();
}
}

class XServersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void running_data()
    {
        QTest::addColumn<QList<FakeProcess>>("processes");
        QTest::addColumn<QStringList>("found"); // effective uid:display of each X server
        QTest::addColumn<bool>("rootStarted");

        const uint nobody = 65534;
        QTest::newRow("no process") << QList<FakeProcess>{} << QStringList{} << false;
        QTest::newRow("Xorg of root, display from :0")
            << QList<FakeProcess>{{"700", "Xorg", 0, 0, {"/usr/lib/xorg/Xorg", "-nolisten", "tcp", ":0", "vt1"}}} << QStringList{"0:0"} << true;
        QTest::newRow("Xorg of a user on :1") << QList<FakeProcess>{{"900", "Xorg", nobody, nobody, {"/usr/lib/xorg/Xorg", ":1", "-keeptty"}}}
                                              << QStringList{"65534:1"} << false;
        QTest::newRow("set-user-id wrapper: the effective user counts")
            << QList<FakeProcess>{{"901", "Xorg", nobody, 0, {"/usr/lib/xorg/Xorg", ":0"}}} << QStringList{"0:0"} << true;
        QTest::newRow("no display argument means :0, an argument ':x' is none")
            << QList<FakeProcess>{{"902", "Xvfb", nobody, nobody, {"Xvfb", ":x", "-screen", "0"}}} << QStringList{"65534:0"} << false;
        QTest::newRow("names without a capital X are no X server") << QList<FakeProcess>{{"10", "xvfb-private", 0, 0, {"xvfb-private", ":5"}},
                                                                                         {"11", "bash", 0, 0, {"bash", "-c", "Xorg :0"}},
                                                                                         {"12", "kworker/0:1", 0, 0, {}}}
                                                                   << QStringList{} << false;
        QTest::newRow("a user's Xwayland next to root's Xorg")
            << QList<FakeProcess>{{"1200", "Xwayland", nobody, nobody, {"/usr/bin/Xwayland", ":1"}}, {"800", "Xorg", 0, 0, {"/usr/lib/xorg/Xorg", ":0"}}}
            << QStringList{"65534:1", "0:0"} << true;
    }

    void running()
    {
        QFETCH(QList<FakeProcess>, processes);
        QFETCH(QStringList, found);
        QFETCH(bool, rootStarted);
        QTemporaryDir proc;
        for (const FakeProcess &process : processes) {
            writeProcess(proc.path(), process);
        }
        QVERIFY(QDir().mkpath(proc.path() + QStringLiteral("/sys/kernel"))); // not a process
        const XServers servers = XServers::running(proc.path());
        QStringList seen;
        for (const XServers::Process &process : servers.processes()) {
            seen << QString::number(process.effectiveUid) + QLatin1Char(':') + process.display;
        }
        seen.sort();
        found.sort();
        QCOMPARE(seen, found);
        QCOMPARE(servers.rootStarted(), rootStarted);
    }

    // The given log first; then the log in the home of every owner that is not root.
    void logCandidates_data()
    {
        const QString nobodyHome = homeOf("nobody");
        QTest::addColumn<QList<FakeProcess>>("processes");
        QTest::addColumn<QStringList>("logs");

        QTest::newRow("root's X server") << QList<FakeProcess>{{"700", "Xorg", 0, 0, {"Xorg", ":0"}}} << QStringList{"/var/log/Xorg.0.log"};
        QTest::newRow("no X server") << QList<FakeProcess>{} << QStringList{"/var/log/vela-dm/Xorg.0.log"};
        QTest::newRow("a user's X server on :2") << QList<FakeProcess>{{"900", "Xorg", 65534, 65534, {"Xorg", ":2"}}}
                                                 << QStringList{"/var/log/vela-dm/Xorg.0.log", nobodyHome + "/.local/share/xorg/Xorg.2.log"};
        QTest::newRow("an owner without a user entry has no home")
            << QList<FakeProcess>{{"901", "Xorg", 4099999, 4099999, {"Xorg", ":0"}}} << QStringList{"/var/log/vela-dm/Xorg.0.log"};
        QTest::newRow("root's and a user's") << QList<FakeProcess>{{"700", "Xorg", 0, 0, {"Xorg", ":0"}}, {"900", "Xvfb", 65534, 65534, {"Xvfb", ":3"}}}
                                             << QStringList{"/var/log/Xorg.0.log", nobodyHome + "/.local/share/xorg/Xorg.3.log"};
    }

    void logCandidates()
    {
        QFETCH(QList<FakeProcess>, processes);
        QFETCH(QStringList, logs);
        QVERIFY2(!homeOf("nobody").isEmpty(), "Debian always has the user nobody");
        QTemporaryDir proc;
        for (const FakeProcess &process : processes) {
            writeProcess(proc.path(), process);
        }
        QCOMPARE(XServers::running(proc.path()).logCandidates(), logs);
    }
};

QTEST_GUILESS_MAIN(XServersTest)
#include "xserverstest.moc"
