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
        const QString current = QStringLiteral(
            "# If you change this file, run 'update-grub' afterwards\n"
            "GRUB_DEFAULT=0\n"
            "GRUB_TIMEOUT=5\n"
            "GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n"
            "GRUB_CMDLINE_LINUX=\"\"\n");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("proposed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("unchanged") << current << current << true;
        QTest::newRow("i915 options") << current
                                      << QString(current).replace(QStringLiteral("\"quiet\""), QStringLiteral("\"quiet i915.enable_guc=2 i915.enable_fbc=1\""))
                                      << true;
        QTest::newRow("cmdline commented out") << current << QString(current).replace(QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT"), QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT")) << true;
        QTest::newRow("cmdline line added") << QStringLiteral("GRUB_DEFAULT=0\n") << QStringLiteral("GRUB_DEFAULT=0\nGRUB_CMDLINE_LINUX_DEFAULT=\"i915.enable_guc=3\"\n") << true;
        QTest::newRow("no final line feed") << current << QString(current).chopped(1) << true;
        QTest::newRow("other line changed") << current << QString(current).replace(QStringLiteral("GRUB_TIMEOUT=5"), QStringLiteral("GRUB_TIMEOUT=0")) << false;
        QTest::newRow("line appended") << current << current + QStringLiteral("touch /root/owned\n") << false;
        QTest::newRow("GRUB_CMDLINE_LINUX changed") << current << QString(current).replace(QStringLiteral("GRUB_CMDLINE_LINUX=\"\""), QStringLiteral("GRUB_CMDLINE_LINUX=\"x\"")) << false;
        const auto withValue = [current](const QString &value) {
            return QString(current).replace(QStringLiteral("\"quiet\""), value);
        };
        QTest::newRow("command substitution") << current << withValue(QStringLiteral("\"$(reboot)\"")) << false;
        QTest::newRow("variable") << current << withValue(QStringLiteral("\"$HOME\"")) << false;
        QTest::newRow("backquote") << current << withValue(QStringLiteral("\"`id`\"")) << false;
        QTest::newRow("backslash") << current << withValue(QStringLiteral("\"a\\\"")) << false;
        QTest::newRow("quote closed early") << current << withValue(QStringLiteral("\"a\" ; reboot ; \"b\"")) << false;
        QTest::newRow("text after quote") << current << withValue(QStringLiteral("\"quiet\";reboot")) << false;
        QTest::newRow("unquoted value") << current << withValue(QStringLiteral("quiet")) << false;
        QTest::newRow("carriage return") << current << withValue(QStringLiteral("\"quiet\r\"")) << false;
        QTest::newRow("commented hostile line") << current << current + QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"$(x)\"\n") << false;
    }
    void grubContent()
    {
        QFETCH(QString, current);
        QFETCH(QString, proposed);
        QFETCH(bool, accepted);
        const QString reason = HelperLogic::checkGrubContent(current, proposed);
        QVERIFY2(reason.isEmpty() == accepted, qPrintable(reason));
    }

    void killList_data()
    {
        QTest::addColumn<QByteArray>("atStart");
        QTest::addColumn<QByteArray>("now");
        QTest::addColumn<QList<qint64>>("killed");
        QTest::newRow("nobody held the lock") << QByteArray() << QByteArray(" 4242") << QList<qint64>{};
        QTest::newRow("still holding") << QByteArray(" 4242 4343") << QByteArray(" 4343 4242") << QList<qint64>{4242, 4343};
        QTest::newRow("gone since") << QByteArray(" 4242 4343") << QByteArray(" 4343") << QList<qint64>{4343};
        QTest::newRow("own pid and init") << QByteArray(" 1 777 4242") << QByteArray(" 1 777 4242") << QList<qint64>{4242};
        QTest::newRow("words that are no pids") << QByteArray(" abc 12c -5 0x10 4242") << QByteArray(" abc 12c -5 0x10 4242") << QList<qint64>{4242};
        QTest::newRow("text after NUL ignored") << QByteArray(" 4242\0 5000", 11) << QByteArray(" 4242 5000") << QList<qint64>{4242};
        QTest::newRow("duplicates once") << QByteArray(" 4242 4242") << QByteArray(" 4242") << QList<qint64>{4242};
        QTest::newRow("zero") << QByteArray(" 0") << QByteArray(" 0") << QList<qint64>{};
    }
    void killList()
    {
        QFETCH(QByteArray, atStart);
        QFETCH(QByteArray, now);
        QFETCH(QList<qint64>, killed);
        QCOMPARE(HelperLogic::pidsToKill(HelperLogic::lockHolderPids(atStart), HelperLogic::lockHolderPids(now), 777), killed);
    }

    void purgeRule_data()
    {
        QTest::addColumn<QStringList>("nameSet");
        QTest::addColumn<QStringList>("purged");
        // nvidia-driver depends on libs (used only by itself), shared (also used by the
        // installed app), gone (unknown to APT) and recommends settings (used by an
        // uninstalled tool).
        const QStringList set{QStringLiteral("libs"), QStringLiteral("shared"), QStringLiteral("gone"), QStringLiteral("settings"), QStringLiteral("nvidia-driver")};
        QTest::newRow("mixed") << set << QStringList{QStringLiteral("libs"), QStringLiteral("settings"), QStringLiteral("nvidia-driver")};
        QTest::newRow("users inside the set do not keep")
            << QStringList{QStringLiteral("libs"), QStringLiteral("shared"), QStringLiteral("app"), QStringLiteral("nvidia-driver")}
            << QStringList{QStringLiteral("libs"), QStringLiteral("shared"), QStringLiteral("app"), QStringLiteral("nvidia-driver")};
        QTest::newRow("installed user outside keeps") << QStringList{QStringLiteral("libs")} << QStringList{};
        QTest::newRow("duplicates once") << QStringList{QStringLiteral("libs"), QStringLiteral("libs"), QStringLiteral("nvidia-driver")}
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
        };
        const QStringList known{QStringLiteral("libs"), QStringLiteral("shared"), QStringLiteral("settings"), QStringLiteral("nvidia-driver"), QStringLiteral("app"), QStringLiteral("tool")};
        const QStringList installed{QStringLiteral("libs"), QStringLiteral("shared"), QStringLiteral("settings"), QStringLiteral("nvidia-driver"), QStringLiteral("app")};
        HelperLogic::PackageFacts facts;
        facts.exists = [&](const QString &n) {
            return known.contains(n);
        };
        facts.isInstalled = [&](const QString &n) {
            return installed.contains(n);
        };
        facts.requiredBy = [&](const QString &n) {
            return requiredBy.value(n);
        };
        QCOMPARE(HelperLogic::namesToPurge(nameSet, facts), purged);
    }
};

QTEST_GUILESS_MAIN(HelperLogicTest)
#include "test_helperlogic.moc"
