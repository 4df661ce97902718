// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "histogramwidget.h"

#include <QTest>

using CVW::HistogramBar;
using CVW::HistogramWidget;

using Bars = QVector<HistogramBar>;
Q_DECLARE_METATYPE(Bars)

class HistogramAggregationTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aggregate_data()
    {
        QTest::addColumn<Bars>("bars");
        QTest::addColumn<int>("mode");
        QTest::addColumn<Bars>("expected");

        const QString a = QStringLiteral("GP107. nvidia_535");
        const QString b = QStringLiteral("GP107. nouveau");
        const QString c = QStringLiteral("GP107. nvidia_535 (fan at max)");
        // Configurations interleaved, listed b first: results follow first appearance.
        const Bars runs{{b, 900}, {a, 1200}, {a, 1500}, {b, 700}, {a, 1350}, {c, 1600}, {b, 800}, {b, 1000}};

        QTest::newRow("average") << runs << int(HistogramWidget::Average) << Bars{{b, 850}, {a, 1350}, {c, 1600}};
        QTest::newRow("median, odd and even counts") << runs << int(HistogramWidget::Median) << Bars{{b, 850}, {a, 1350}, {c, 1600}};
        QTest::newRow("maximum") << runs << int(HistogramWidget::Maximum) << Bars{{b, 1000}, {a, 1500}, {c, 1600}};
        QTest::newRow("every entry") << runs << int(HistogramWidget::AllEntries) << runs;
        QTest::newRow("median skewed by one outlier") << Bars{{a, 1000}, {a, 1010}, {a, 5000}} << int(HistogramWidget::Median) << Bars{{a, 1010}};
        QTest::newRow("average not rounded") << Bars{{a, 1}, {a, 2}} << int(HistogramWidget::Average) << Bars{{a, 1.5}};
        for (int mode = HistogramWidget::Average; mode <= HistogramWidget::AllEntries; ++mode) {
            const QByteArray name = QMetaEnum::fromType<HistogramWidget::AggregationMode>().valueToKey(mode);
            QTest::newRow(QByteArray(QByteArray("empty, ") + name).constData()) << Bars{} << mode << Bars{};
            QTest::newRow(QByteArray(QByteArray("one row, ") + name).constData()) << Bars{{a, 42, Qt::red}} << mode << Bars{{a, 42, Qt::red}};
        }
    }
    void aggregate()
    {
        QFETCH(Bars, bars);
        QFETCH(int, mode);
        QFETCH(Bars, expected);
        QCOMPARE(HistogramWidget::aggregateBars(bars, HistogramWidget::AggregationMode(mode)), expected);
    }

    // The history page stores the mode as an integer in a combo box and converts it back.
    void modeConvertsFromItsInteger()
    {
        QCOMPARE(QMetaType::typeName(qMetaTypeId<HistogramWidget::AggregationMode>()), "CVW::HistogramWidget::AggregationMode");
        const QVariant stored(int(HistogramWidget::Maximum));
        QVERIFY(stored.canConvert<HistogramWidget::AggregationMode>());
        QCOMPARE(stored.value<HistogramWidget::AggregationMode>(), HistogramWidget::Maximum);
    }
};

QTEST_GUILESS_MAIN(HistogramAggregationTest)
#include "histogramaggregationtest.moc"
