// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "modaliasmatch.h"

#include <QTest>

class ModaliasMatchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void patterns_data();
    void patterns();
    void matches_data();
    void matches();
};

void ModaliasMatchTest::patterns_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one group") << QStringLiteral("nvidia(pci:v000010DEd*sv*, pci:v000012D2d*sv*)")
                               << QStringList{QStringLiteral("pci:v000010DEd*sv*"), QStringLiteral("pci:v000012D2d*sv*")};
    QTest::newRow("single pattern") << QStringLiteral("i915(pci:v00008086d00005917sv*)") << QStringList{QStringLiteral("pci:v00008086d00005917sv*")};
    QTest::newRow("empty group keeps one empty part") << QStringLiteral("nvidia()") << QStringList{QString()};
    QTest::newRow("doubled separator keeps the empty part") << QStringLiteral("m(a, , b)") << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")};
    QTest::newRow("second group stays in the last pattern")
        << QStringLiteral("m1(a, b), m2(c)") << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("m2(c)")};
    QTest::newRow("no parenthesis at all") << QStringLiteral("pci:v1*, pci:v2*") << QStringList{QStringLiteral("pci:v1*"), QStringLiteral("pci:v2*")};
    QTest::newRow("unclosed group") << QStringLiteral("m(a, b") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("comma without blank does not split") << QStringLiteral("m(a,b)") << QStringList{QStringLiteral("a,b")};
}

void ModaliasMatchTest::patterns()
{
    QFETCH(QString, field);
    QFETCH(QStringList, expected);
    QCOMPARE(ModaliasMatch::patterns(field), expected);
}

void ModaliasMatchTest::matches_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("modalias");
    QTest::addColumn<bool>("expected");

    const QString gtx1060 = QStringLiteral("pci:v000010DEd00001C03sv00001043sd000085BFbc03sc00i00");
    const QString uhd620 = QStringLiteral("pci:v00008086d00005917sv00001043sd00001A00bc03sc00i00");
    const QString vendorWide = QStringLiteral("nvidia(pci:v000010DEd*sv*sd*bc03sc*i*)");

    QTest::newRow("vendor-wide pattern, NVIDIA adapter") << vendorWide << gtx1060 << true;
    QTest::newRow("vendor-wide pattern, Intel adapter") << vendorWide << uhd620 << false;
    QTest::newRow("exact device in the second pattern")
        << QStringLiteral("nvidia(pci:v000010DEd00001C02sv*sd*bc03sc*i*, pci:v000010DEd00001C03sv*sd*bc03sc*i*)") << gtx1060 << true;
    QTest::newRow("neighbouring device id") << QStringLiteral("nvidia(pci:v000010DEd00001C02sv*sd*bc03sc*i*)") << gtx1060 << false;
    // "*" needs at least one character: nothing between "d" and "sv" is no match.
    QTest::newRow("wildcard needs one character") << QStringLiteral("m(pci:v000010DEd*sv*)") << QStringLiteral("pci:v000010DEdsv1") << false;
    QTest::newRow("wildcard with one character") << QStringLiteral("m(pci:v000010DEd*sv*)") << QStringLiteral("pci:v000010DEdXsv1") << true;
    QTest::newRow("fixed parts out of order") << QStringLiteral("m(pci:v000010DEd*bc03*sv*)") << gtx1060 << false;
    QTest::newRow("case matters") << QStringLiteral("m(pci:v000010ded*)") << gtx1060 << false;
    QTest::newRow("pattern matches inside the modalias") << QStringLiteral("m(d00001C03sv*)") << gtx1060 << true;
    QTest::newRow("pattern longer than the modalias") << QStringLiteral("m(") + gtx1060 + QStringLiteral("X)") << gtx1060 << false;
    QTest::newRow("empty group matches nothing") << QStringLiteral("nvidia()") << gtx1060 << false;
    QTest::newRow("empty field matches nothing") << QString() << gtx1060 << false;
    QTest::newRow("empty modalias") << vendorWide << QString() << false;
    // Hostile fields: none may throw off the match or widen it.
    QTest::newRow("unbalanced parenthesis") << QStringLiteral("m((pci:v000010DEd*)") << gtx1060 << false;
    QTest::newRow("unbalanced bracket") << QStringLiteral("m(pci:v[000010DEd*)") << gtx1060 << false;
    QTest::newRow("dot is no wildcard") << QStringLiteral("m(pci:v.00010DEd*)") << gtx1060 << false;
    QTest::newRow("plus is literal") << QStringLiteral("m(pci:v0+10DEd*)") << gtx1060 << false;
    QTest::newRow("alternation is literal") << QStringLiteral("m(nothing|pci*)") << gtx1060 << false;
    QTest::newRow("backslash is literal") << QStringLiteral("m(pci:v\\d*)") << gtx1060 << false;
    QTest::newRow("metacharacters literally present") << QStringLiteral("m(a.b[c]*)") << QStringLiteral("xa.b[c]yz") << true;
    QTest::newRow("lone wildcard") << QStringLiteral("m(*)") << gtx1060 << true;
}

void ModaliasMatchTest::matches()
{
    QFETCH(QString, field);
    QFETCH(QString, modalias);
    QFETCH(bool, expected);
    QCOMPARE(ModaliasMatch::matches(field, modalias), expected);
}

QTEST_GUILESS_MAIN(ModaliasMatchTest)
#include "modaliasmatchtest.moc"
