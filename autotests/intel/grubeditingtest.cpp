// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "intelvideoconfigurator.h"

#include <QTest>

// The boot loader defaults editing, on file texts.
class GrubEditingTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void optionsList_data();
    void optionsList();
    void reading_data();
    void reading();
    void modify_data();
    void modify();
    void remove_data();
    void remove();
    void gucModeMetaType();
};

namespace
{
QString grub(const QString &commandLine)
{
    return QStringLiteral("GRUB_DEFAULT=0\nGRUB_TIMEOUT=5\nGRUB_CMDLINE_LINUX_DEFAULT=\"%1\"\nGRUB_CMDLINE_LINUX=\"\"\n").arg(commandLine);
}
}

void GrubEditingTest::optionsList_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("plain") << grub(QStringLiteral("quiet splash i915.enable_guc=2"))
                           << QStringList{QStringLiteral("quiet"), QStringLiteral("splash"), QStringLiteral("i915.enable_guc=2")};
    QTest::newRow("runs of blanks dropped") << grub(QStringLiteral("  quiet   splash ")) << QStringList{QStringLiteral("quiet"), QStringLiteral("splash")};
    QTest::newRow("empty command line") << grub(QString()) << QStringList();
    QTest::newRow("no command line") << QStringLiteral("GRUB_DEFAULT=0\n") << QStringList();
    QTest::newRow("empty file") << QString() << QStringList();
    QTest::newRow("commented line first") << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"splash i915.enable_fbc=1\"\n")
                                          << QStringList{QStringLiteral("splash"), QStringLiteral("i915.enable_fbc=1")};
    QTest::newRow("commented with blank before hash") << QStringLiteral("  # GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n") << QStringList();
    QTest::newRow("indented active line") << QStringLiteral("\tGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n") << QStringList{QStringLiteral("quiet")};
    QTest::newRow("longer key is another key") << QStringLiteral("XGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n") << QStringList();
    QTest::newRow("other command line key untouched") << QStringLiteral("GRUB_CMDLINE_LINUX=\"nomodeset\"\n") << QStringList();
    QTest::newRow("value does not span lines") << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\nsplash\"\n") << QStringList();
    QTest::newRow("first of two active lines") << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"a\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"b\"\n")
                                               << QStringList{QStringLiteral("a")};
    QTest::newRow("tabs separate as blanks do") << grub(QStringLiteral("quiet\tsplash \t i915.enable_fbc=1\t"))
                                                << QStringList{QStringLiteral("quiet"), QStringLiteral("splash"), QStringLiteral("i915.enable_fbc=1")};
}

void GrubEditingTest::optionsList()
{
    QFETCH(QString, content);
    QFETCH(QStringList, expected);
    QCOMPARE(IntelVideoConfigurator::getOptionsList(content), expected);
}

void GrubEditingTest::reading_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("gucValue");
    QTest::addColumn<int>("gucMode");
    QTest::addColumn<QString>("fbcValue");

    QTest::newRow("full") << QStringLiteral("quiet i915.enable_guc=3 i915.enable_fbc=1") << QStringLiteral("3") << 3 << QStringLiteral("1");
    QTest::newRow("first of duplicates wins") << QStringLiteral("i915.enable_guc=1 i915.enable_guc=2") << QStringLiteral("1") << 1 << QString();
    QTest::newRow("not a number") << QStringLiteral("i915.enable_guc=abc") << QStringLiteral("abc") << 0 << QString();
    QTest::newRow("above range") << QStringLiteral("i915.enable_guc=7") << QStringLiteral("7") << 0 << QString();
    QTest::newRow("negative") << QStringLiteral("i915.enable_guc=-1") << QStringLiteral("-1") << 0 << QString();
    QTest::newRow("hex is not decimal") << QStringLiteral("i915.enable_guc=0x3") << QStringLiteral("0x3") << 0 << QString();
    QTest::newRow("upper bound") << QStringLiteral("i915.enable_guc=3") << QStringLiteral("3") << 3 << QString();
    QTest::newRow("lower bound") << QStringLiteral("i915.enable_guc=0") << QStringLiteral("0") << 0 << QString();
    QTest::newRow("longer option name is another option") << QStringLiteral("i915.enable_gucx=1 i915.enable_fbcx=1") << QString() << 0 << QString();
    QTest::newRow("bare word without value") << QStringLiteral("i915.enable_guc i915.enable_fbc") << QString() << 0 << QString();
    QTest::newRow("value ends at the next equals sign") << QStringLiteral("i915.enable_fbc=1=2") << QString() << 0 << QStringLiteral("1");
    QTest::newRow("tab before the option") << QStringLiteral("quiet\ti915.enable_fbc=1\ti915.enable_guc=2") << QStringLiteral("2") << 2 << QStringLiteral("1");
    QTest::newRow("fbc Y is kept as typed") << QStringLiteral("i915.enable_fbc=Y") << QString() << 0 << QStringLiteral("Y");
    QTest::newRow("empty value") << QStringLiteral("i915.enable_guc=") << QString() << 0 << QString();
}

void GrubEditingTest::reading()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, gucValue);
    QFETCH(int, gucMode);
    QFETCH(QString, fbcValue);
    const QStringList options = IntelVideoConfigurator::getOptionsList(grub(commandLine));
    const QString guc = IntelVideoConfigurator::optionValue(options, IntelVideoConfigurator::gucOption());
    QCOMPARE(guc, gucValue);
    QCOMPARE(int(IntelVideoConfigurator::gucModeFromValue(guc)), gucMode);
    QCOMPARE(IntelVideoConfigurator::optionValue(options, IntelVideoConfigurator::fbcOption()), fbcValue);
}

void GrubEditingTest::modify_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected"); // empty: refused

    const QString guc = IntelVideoConfigurator::gucOption();
    const QString fbc = IntelVideoConfigurator::fbcOption();

    QTest::newRow("replace and move to the end") << grub(QStringLiteral("quiet i915.enable_guc=2 splash")) << guc << QStringLiteral("3")
                                                 << grub(QStringLiteral("quiet splash i915.enable_guc=3"));
    QTest::newRow("append") << grub(QStringLiteral("quiet splash")) << fbc << QStringLiteral("1") << grub(QStringLiteral("quiet splash i915.enable_fbc=1"));
    QTest::newRow("same value at the end is unchanged")
        << grub(QStringLiteral("quiet i915.enable_guc=3")) << guc << QStringLiteral("3") << grub(QStringLiteral("quiet i915.enable_guc=3"));
    QTest::newRow("duplicates collapse into one") << grub(QStringLiteral("i915.enable_guc=1 quiet i915.enable_guc=2")) << guc << QStringLiteral("0")
                                                  << grub(QStringLiteral("quiet i915.enable_guc=0"));
    QTest::newRow("longer option name kept") << grub(QStringLiteral("i915.enable_gucx=1")) << guc << QStringLiteral("3")
                                             << grub(QStringLiteral("i915.enable_gucx=1 i915.enable_guc=3"));
    QTest::newRow("bare word of the same name kept") << grub(QStringLiteral("i915.enable_guc")) << guc << QStringLiteral("3")
                                                     << grub(QStringLiteral("i915.enable_guc i915.enable_guc=3"));
    QTest::newRow("blank runs normalised") << grub(QStringLiteral(" quiet  splash ")) << fbc << QStringLiteral("0")
                                           << grub(QStringLiteral("quiet splash i915.enable_fbc=0"));
    // A second entry after a tab would leave the old value in force.
    QTest::newRow("tab-separated entry replaced, not doubled")
        << grub(QStringLiteral("i915.enable_fbc=1\tquiet")) << fbc << QStringLiteral("1") << grub(QStringLiteral("quiet i915.enable_fbc=1"));
    QTest::newRow("value already set after a tab: line as it was")
        << grub(QStringLiteral("quiet\ti915.enable_fbc=1")) << fbc << QStringLiteral("1") << grub(QStringLiteral("quiet\ti915.enable_fbc=1"));
    QTest::newRow("empty command line gets the option") << grub(QString()) << guc << QStringLiteral("3") << grub(QStringLiteral("i915.enable_guc=3"));
    QTest::newRow("no command line is refused") << QStringLiteral("GRUB_DEFAULT=0\n") << guc << QStringLiteral("3") << QString();
    QTest::newRow("empty file is refused") << QString() << guc << QStringLiteral("3") << QString();
    QTest::newRow("only a commented line is refused") << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n") << guc << QStringLiteral("3") << QString();
    QTest::newRow("escaped quote is refused") << grub(QStringLiteral("quiet acpi_osi=\\\"Linux\\\"")) << guc << QStringLiteral("3") << QString();
    QTest::newRow("escaped quote on a second active line is refused")
        << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"a=\\\"b\\\"\"\n") << guc << QStringLiteral("3") << QString();
    QTest::newRow("escaped quote in a commented line does not matter")
        << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"a=\\\"b\\\"\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n") << guc << QStringLiteral("3")
        << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"a=\\\"b\\\"\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet i915.enable_guc=3\"\n");
    QTest::newRow("commented line before the active one stays")
        << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"splash i915.enable_guc=1\"\n") << guc << QStringLiteral("3")
        << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"splash i915.enable_guc=3\"\n");
    QTest::newRow("every active line gets the first one's options")
        << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"a\"\nX=1\n  GRUB_CMDLINE_LINUX_DEFAULT=\"b\"\n") << fbc << QStringLiteral("1")
        << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"a i915.enable_fbc=1\"\nX=1\n  GRUB_CMDLINE_LINUX_DEFAULT=\"a i915.enable_fbc=1\"\n");
    QTest::newRow("text after the closing quote stays") << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\" # keep\nEND") << guc << QStringLiteral("1")
                                                        << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"quiet i915.enable_guc=1\" # keep\nEND");
    QTest::newRow("no final line feed") << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"") << guc << QStringLiteral("2")
                                        << QStringLiteral("GRUB_CMDLINE_LINUX_DEFAULT=\"quiet i915.enable_guc=2\"");
    // Replacement text is inserted literally, never read as back references.
    QTest::newRow("backslashes and dollars in other entries survive")
        << grub(QStringLiteral("root=\\1 x=$1 y=\\\\")) << guc << QStringLiteral("3") << grub(QStringLiteral("root=\\1 x=$1 y=\\\\ i915.enable_guc=3"));
}

void GrubEditingTest::modify()
{
    QFETCH(QString, content);
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(IntelVideoConfigurator::modifyKernelOption(content, option, value), expected);
}

void GrubEditingTest::remove_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("expected"); // empty: refused

    QTest::newRow("both removed") << grub(QStringLiteral("quiet i915.enable_guc=3 splash i915.enable_fbc=1")) << grub(QStringLiteral("quiet splash"));
    QTest::newRow("every entry goes") << grub(QStringLiteral("i915.enable_guc=3 i915.enable_fbc=1")) << grub(QString());
    QTest::newRow("duplicates removed") << grub(QStringLiteral("i915.enable_guc=1 i915.enable_guc=2 quiet")) << grub(QStringLiteral("quiet"));
    QTest::newRow("nothing to remove") << grub(QStringLiteral("quiet splash")) << grub(QStringLiteral("quiet splash"));
    QTest::newRow("empty command line stays") << grub(QString()) << grub(QString());
    QTest::newRow("similar names stay") << grub(QStringLiteral("i915.enable_gucx=1 i915.enable_fbc"))
                                        << grub(QStringLiteral("i915.enable_gucx=1 i915.enable_fbc"));
    QTest::newRow("no command line is refused") << QStringLiteral("GRUB_DEFAULT=0\n") << QString();
    QTest::newRow("escaped quote is refused") << grub(QStringLiteral("i915.enable_guc=3 a=\\\"b\\\"")) << QString();
    QTest::newRow("escaped blank that would end the line is refused") << grub(QStringLiteral("y\\ i915.enable_guc=2")) << QString();
    QTest::newRow("escaped backslash at the end stays") << grub(QStringLiteral("y\\\\ i915.enable_guc=2")) << grub(QStringLiteral("y\\\\"));
    QTest::newRow("commented line untouched") << QStringLiteral(
        "#GRUB_CMDLINE_LINUX_DEFAULT=\"i915.enable_guc=3\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"i915.enable_guc=3 quiet\"\n")
                                              << QStringLiteral("#GRUB_CMDLINE_LINUX_DEFAULT=\"i915.enable_guc=3\"\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\n");
}

void GrubEditingTest::remove()
{
    QFETCH(QString, content);
    QFETCH(QString, expected);
    const QStringList names = {IntelVideoConfigurator::gucOption(), IntelVideoConfigurator::fbcOption()};
    QCOMPARE(IntelVideoConfigurator::removeKernelOptions(content, names), expected);
}

void GrubEditingTest::gucModeMetaType()
{
    IntelVideoConfigurator configurator; // registers the type
    Q_UNUSED(configurator)
    QVERIFY(QMetaType::type("GucMode") != QMetaType::UnknownType);
    const QVariant carried = QVariant::fromValue(GucMode::SubmissionOnly);
    QCOMPARE(carried.value<GucMode>(), GucMode::SubmissionOnly);
    QCOMPARE(int(GucMode::SubmissionOnly), 1);
    QCOMPARE(int(GucMode::LoadFirmwareOnly), 2);
}

QTEST_GUILESS_MAIN(GrubEditingTest)
#include "grubeditingtest.moc"
