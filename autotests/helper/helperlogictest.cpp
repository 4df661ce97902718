// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The helper's decisions, checked without files, processes or a bus.
#include "helperlogic.h"

#include <QTest>

class HelperLogicTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void safeValue_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << QStringLiteral("GeForce GTX 1050 Ti") << true;
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("latin1 and beyond") << QStringLiteral("Radeon™ Grafik äöü") << true;
        QTest::newRow("tab") << QStringLiteral("a\tb") << false;
        QTest::newRow("line feed") << QStringLiteral("x\nEndSection") << false;
        QTest::newRow("carriage return") << QStringLiteral("x\r") << false;
        QTest::newRow("double quote") << QStringLiteral("x\" Option \"y") << false;
        QTest::newRow("backslash") << QStringLiteral("x\\") << false;
        QTest::newRow("NUL") << QString(QChar(0)) << false;
        QTest::newRow("NUL inside") << (QStringLiteral("nv") + QChar(0) + QStringLiteral("idia")) << false;
        QTest::newRow("DEL") << QString(QChar(0x7f)) << false;
        QTest::newRow("C1 control") << QString(QChar(0x85)) << false;
        QTest::newRow("unicode line separator") << QString(QChar(0x2028)) << false;
        QTest::newRow("single quote and hash") << QStringLiteral("it's #1") << true;
    }
    void safeValue()
    {
        QFETCH(QString, value);
        QFETCH(bool, safe);
        QCOMPARE(HelperLogic::isSafeConfigValue(value), safe);
    }

    void busId_data()
    {
        QTest::addColumn<QString>("busId");
        QTest::addColumn<QString>("xorg"); // empty: refused
        QTest::newRow("low digits stay") << QStringLiteral("PCI:1@0000:00:0") << QStringLiteral("PCI:1@0000:00:0");
        QTest::newRow("bus 9 stays") << QStringLiteral("PCI:09@0000:00:0") << QStringLiteral("PCI:09@0000:00:0");
        QTest::newRow("bus 0b") << QStringLiteral("PCI:0b@0000:00:0") << QStringLiteral("PCI:11@0000:00:0");
        QTest::newRow("bus 0a upper case") << QStringLiteral("PCI:0A@0000:00:0") << QStringLiteral("PCI:10@0000:00:0");
        QTest::newRow("bus ff widens") << QStringLiteral("PCI:ff@0000:00:0") << QStringLiteral("PCI:255@0000:00:0");
        QTest::newRow("slot 1f") << QStringLiteral("PCI:0@0000:1f:3") << QStringLiteral("PCI:0@0000:31:3");
        QTest::newRow("bus 10 is sixteen") << QStringLiteral("PCI:10@0000:00:0") << QStringLiteral("PCI:16@0000:00:0");
        QTest::newRow("domain 10000") << QStringLiteral("PCI:1@10000:00:0") << QStringLiteral("PCI:1@65536:00:0");
        QTest::newRow("eight digit field") << QStringLiteral("PCI:ffffffff@0:0:0") << QStringLiteral("PCI:4294967295@0:0:0");
        QTest::newRow("nine digit field") << QStringLiteral("PCI:fffffffff@0:0:0") << QString();
        QTest::newRow("sysfs form") << QStringLiteral("0000:0b:00.0") << QString();
        QTest::newRow("lower case pci") << QStringLiteral("pci:1@0000:00:0") << QString();
        QTest::newRow("missing field") << QStringLiteral("PCI:1@0000:00") << QString();
        QTest::newRow("not hex") << QStringLiteral("PCI:1g@0000:00:0") << QString();
        QTest::newRow("trailing newline") << QStringLiteral("PCI:1@0000:00:0\n") << QString();
        QTest::newRow("quote") << QStringLiteral("PCI:1@0000:00:0\"") << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void busId()
    {
        QFETCH(QString, busId);
        QFETCH(QString, xorg);
        QCOMPARE(HelperLogic::isValidBusId(busId), !xorg.isEmpty());
        QCOMPARE(HelperLogic::xorgBusId(busId), xorg);
    }

    void grubContent_data()
    {
        // Debian's own file, its backquoted GRUB_DISTRIBUTOR included.
        const QByteArray current =
            "# If you change this file, run 'update-grub' afterwards\n"
            "GRUB_DEFAULT=0\n"
            "GRUB_TIMEOUT=5\n"
            "GRUB_DISTRIBUTOR=`lsb_release -i -s 2> /dev/null || echo Debian`\n"
            "GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n"
            "GRUB_CMDLINE_LINUX=\"\"\n";
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QByteArray>("proposed");
        QTest::addColumn<bool>("accepted");
        const auto withValue = [](const QByteArray &text, const QByteArray &value) {
            return QByteArray(text).replace("\"quiet\"", value);
        };
        QTest::newRow("unchanged") << current << current << true;
        QTest::newRow("i915 options") << current << withValue(current, "\"quiet i915.enable_guc=2 i915.enable_fbc=1\"") << true;
        QTest::newRow("every parameter byte") << current << withValue(current, "\"root=UUID=0a-1B ro,x:y/z+w_v.u\"") << true;
        QTest::newRow("cmdline commented out") << current << QByteArray(current).replace("GRUB_CMDLINE_LINUX_DEFAULT", "#GRUB_CMDLINE_LINUX_DEFAULT") << false;
        QTest::newRow("cmdline line added") << QByteArray("GRUB_DEFAULT=0\n")
                                            << QByteArray("GRUB_DEFAULT=0\nGRUB_CMDLINE_LINUX_DEFAULT=\"i915.enable_guc=3\"\n") << false;
        QTest::newRow("final line feed dropped") << current << current.chopped(1) << false;
        QTest::newRow("other line changed") << current << QByteArray(current).replace("GRUB_TIMEOUT=5", "GRUB_TIMEOUT=0") << false;
        QTest::newRow("line appended") << current << current + "touch /root/owned\n" << false;
        QTest::newRow("command substitution") << current << withValue(current, "\"$(reboot)\"") << false;
        QTest::newRow("quote closed early") << current << withValue(current, "\"a\" ; reboot ; \"b\"") << false;
        QTest::newRow("tab between parameters") << current << withValue(current, "\"quiet\tsplash\"") << false;
        QTest::newRow("trailing space") << current << withValue(current, "\"quiet \"") << false;
        QTest::newRow("non-ASCII byte") << current << withValue(current, "\"quiet \xe9\"") << false;
        // How the shell reads the current file decides which line is the active one.
        const QByteArray inside = "GRUB_CMDLINE_LINUX=\"a\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nb\"\n";
        QTest::newRow("line inside another value is not active") << inside << withValue(inside, "\"quiet splash\"") << false;
        const QByteArray singleQuoted = "X='a\nGRUB_CMDLINE_LINUX_DEFAULT=\"x\"\n'\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n";
        QTest::newRow("single-quoted lines skipped") << singleQuoted << withValue(singleQuoted, "\"quiet splash\"") << true;
        const QByteArray continued = "GRUB_TIMEOUT=5 \\\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n";
        QTest::newRow("continued line is not a line start") << continued << withValue(continued, "\"quiet splash\"") << false;
        const QByteArray commented = "# GRUB_CMDLINE_LINUX_DEFAULT=\"x\" \"\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n";
        QTest::newRow("quotes in a comment") << commented << withValue(commented, "\"quiet splash\"") << true;
        const QByteArray hereDoc = "cat <<EOF\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nEOF\n";
        QTest::newRow("here-document") << hereDoc << withValue(hereDoc, "\"quiet splash\"") << false;
        const QByteArray unquoted = "GRUB_CMDLINE_LINUX_DEFAULT=quiet\n";
        QTest::newRow("unquoted current value") << unquoted << QByteArray("GRUB_CMDLINE_LINUX_DEFAULT=quiet splash\n") << false;
        const QByteArray variable = "GRUB_CMDLINE_LINUX_DEFAULT=\"$X quiet\"\n";
        QTest::newRow("current value expands") << variable << QByteArray("GRUB_CMDLINE_LINUX_DEFAULT=\"$X quiet splash\"\n") << false;
    }
    void grubContent()
    {
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, proposed);
        QFETCH(bool, accepted);
        const QString reason = HelperLogic::checkGrubContent(current, proposed);
        QVERIFY2(reason.isEmpty() == accepted, qPrintable(reason));
    }

    void purgeRule_data()
    {
        QTest::addColumn<QStringList>("nameSet");
        QTest::addColumn<QStringList>("purged");
        // nvidia-driver depends on libs (used only by itself), shared (also used by the
        // installed app), gone (unknown to APT) and recommends settings (used by an
        // uninstalled tool).
        const QStringList set{QStringLiteral("libs"),
                              QStringLiteral("shared"),
                              QStringLiteral("gone"),
                              QStringLiteral("settings"),
                              QStringLiteral("nvidia-driver")};
        QTest::newRow("mixed") << set << QStringList{QStringLiteral("libs"), QStringLiteral("settings"), QStringLiteral("nvidia-driver")};
        QTest::newRow("users inside the set do not keep")
            << QStringList{QStringLiteral("libs"), QStringLiteral("shared"), QStringLiteral("app"), QStringLiteral("nvidia-driver")}
            << QStringList{QStringLiteral("libs"), QStringLiteral("shared"), QStringLiteral("app"), QStringLiteral("nvidia-driver")};
        QTest::newRow("installed user outside keeps") << QStringList{QStringLiteral("libs")} << QStringList{};
        QTest::newRow("duplicates once") << QStringList{QStringLiteral("libs"), QStringLiteral("libs"), QStringLiteral("nvidia-driver")}
                                         << QStringList{QStringLiteral("libs"), QStringLiteral("nvidia-driver")};
        // manual: installed by the administrator; libc: Priority required. Only nvidia-driver uses either.
        QTest::newRow("manual and required packages stay")
            << QStringList{QStringLiteral("libs"), QStringLiteral("manual"), QStringLiteral("libc"), QStringLiteral("nvidia-driver")}
            << QStringList{QStringLiteral("libs"), QStringLiteral("nvidia-driver")};
        QTest::newRow("case matters") << QStringList{QStringLiteral("shared"), QStringLiteral("App")} << QStringList{};
    }
    void purgeRule()
    {
        QFETCH(QStringList, nameSet);
        QFETCH(QStringList, purged);
        const QMap<QString, QStringList> requiredBy{
            {QStringLiteral("libs"), {QStringLiteral("nvidia-driver")}},
            {QStringLiteral("shared"), {QStringLiteral("nvidia-driver"), QStringLiteral("app")}},
            {QStringLiteral("settings"), {QStringLiteral("nvidia-driver"), QStringLiteral("tool")}},
            {QStringLiteral("manual"), {QStringLiteral("nvidia-driver")}},
            {QStringLiteral("libc"), {QStringLiteral("nvidia-driver")}},
        };
        const QStringList known{QStringLiteral("libs"),
                                QStringLiteral("shared"),
                                QStringLiteral("settings"),
                                QStringLiteral("nvidia-driver"),
                                QStringLiteral("app"),
                                QStringLiteral("tool"),
                                QStringLiteral("manual"),
                                QStringLiteral("libc")};
        const QStringList installed{QStringLiteral("libs"),
                                    QStringLiteral("shared"),
                                    QStringLiteral("settings"),
                                    QStringLiteral("nvidia-driver"),
                                    QStringLiteral("app"),
                                    QStringLiteral("manual"),
                                    QStringLiteral("libc")};
        HelperLogic::PackageFacts facts;
        facts.exists = [&](const QString &n) {
            return known.contains(n);
        };
        facts.isInstalled = [&](const QString &n) {
            return installed.contains(n);
        };
        facts.isAutoInstalled = [](const QString &n) {
            return n != QLatin1String("manual");
        };
        facts.isProtected = [](const QString &n) {
            return n == QLatin1String("libc");
        };
        facts.requiredBy = [&](const QString &n) {
            return requiredBy.value(n);
        };
        QCOMPARE(HelperLogic::namesToPurge(nameSet, facts), purged);
    }

    // Debian 13's nvidia-driver: "nvidia-kernel-dkms (= v) | nvidia-kernel-v | nvidia-open-kernel-v".
    void keepOut_data()
    {
        QTest::addColumn<QList<QStringList>>("groups");
        QTest::addColumn<QStringList>("satisfied");
        QTest::addColumn<QStringList>("keptOut");
        const QStringList modules{QStringLiteral("nvidia-kernel-dkms"), QStringLiteral("nvidia-kernel-v"), QStringLiteral("nvidia-open-kernel-v")};
        const QStringList opencl{QStringLiteral("nvidia-opencl-icd"), QStringLiteral("opencl-icd")};
        QTest::newRow("open modules marked") << QList<QStringList>{modules} << QStringList{QStringLiteral("nvidia-open-kernel-v")}
                                             << QStringList{QStringLiteral("nvidia-kernel-dkms")};
        QTest::newRow("proprietary modules marked") << QList<QStringList>{modules} << QStringList{QStringLiteral("nvidia-kernel-dkms")} << QStringList{};
        QTest::newRow("nothing satisfies") << QList<QStringList>{modules} << QStringList{} << QStringList{};
        QTest::newRow("virtual earlier alternative") << QList<QStringList>{{QStringLiteral("nvidia-kernel-v"), QStringLiteral("nvidia-open-kernel-dkms")}}
                                                     << QStringList{QStringLiteral("nvidia-open-kernel-dkms")} << QStringList{};
        QTest::newRow("second of three") << QList<QStringList>{modules}
                                         << QStringList{QStringLiteral("nvidia-kernel-v"), QStringLiteral("nvidia-open-kernel-v")}
                                         << QStringList{QStringLiteral("nvidia-kernel-dkms")};
        QTest::newRow("later alternatives stay") << QList<QStringList>{{QStringLiteral("nvidia-kernel-dkms"),
                                                                        QStringLiteral("nvidia-open-kernel-dkms"),
                                                                        QStringLiteral("nvidia-opencl-icd")}}
                                                 << QStringList{QStringLiteral("nvidia-open-kernel-dkms")} << QStringList{QStringLiteral("nvidia-kernel-dkms")};
        QTest::newRow("two groups, one name once") << QList<QStringList>{modules, modules, opencl}
                                                   << QStringList{QStringLiteral("nvidia-open-kernel-v"), QStringLiteral("nvidia-opencl-icd")}
                                                   << QStringList{QStringLiteral("nvidia-kernel-dkms")};
    }
    void keepOut()
    {
        QFETCH(QList<QStringList>, groups);
        QFETCH(QStringList, satisfied);
        QFETCH(QStringList, keptOut);
        // Real packages with a candidate; the nvidia-*-v names are virtual.
        const QStringList installable{QStringLiteral("nvidia-kernel-dkms"), QStringLiteral("nvidia-open-kernel-dkms"), QStringLiteral("nvidia-opencl-icd")};
        HelperLogic::AlternativeFacts facts;
        facts.isSatisfied = [&](const QString &n) {
            return satisfied.contains(n);
        };
        facts.isInstallable = [&](const QString &n) {
            return installable.contains(n) && !satisfied.contains(n);
        };
        QCOMPARE(HelperLogic::alternativesToKeepOut(groups, facts), keptOut);
    }
};

QTEST_GUILESS_MAIN(HelperLogicTest)
#include "helperlogictest.moc"
