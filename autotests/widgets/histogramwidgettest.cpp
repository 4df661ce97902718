// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "histogramwidget.h"

#include <QImage>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using CVW::HistogramBar;
using CVW::HistogramWidget;

class HistogramWidgetTest : public QObject
{
    Q_OBJECT

    // Pixels of the given colour in the lower half of the plot, where every bar reaches down.
    static int pixelsOf(const QImage &image, const QColor &color)
    {
        int count = 0;
        for (int y = image.height() / 2; y < image.height() * 3 / 4; ++y)
            for (int x = image.width() / 4; x < image.width(); ++x)
                count += image.pixel(x, y) == color.rgba();
        return count;
    }

private Q_SLOTS:
    void drawsBarsAndScrolls()
    {
        HistogramWidget chart;
        chart.setGridStep(500);
        chart.setAxisTitle(QStringLiteral("Number of frames per second"));
        chart.setValueSuffix(QStringLiteral("FPS"));
        chart.resize(640, 420); // about the size the advanced settings dialog gives it

        QImage empty(chart.size(), QImage::Format_ARGB32);
        empty.fill(Qt::white);
        chart.render(&empty);

        chart.setBars(HistogramWidget::aggregateBars(
            {{QStringLiteral("GP107. nvidia_535"), 1350}, {QStringLiteral("GP107. nouveau"), 800}, {QStringLiteral("GP107. nvidia_535"), 1250}},
            HistogramWidget::AllEntries));
        QImage drawn(chart.size(), QImage::Format_ARGB32);
        drawn.fill(Qt::white);
        chart.render(&drawn);

        // Bars of one configuration share a colour, the other configuration has its own.
        QCOMPARE(chart.barColor(0), chart.barColor(2));
        QVERIFY(chart.barColor(0) != chart.barColor(1));
        QCOMPARE(pixelsOf(empty, chart.barColor(0)), 0);
        QVERIFY2(pixelsOf(drawn, chart.barColor(0)) > 2000, "the two bars of the first configuration are painted");
        QVERIFY2(pixelsOf(drawn, chart.barColor(1)) > 1000, "the bar of the second configuration is painted");

        // A long history does not squeeze the bars: the chart asks for room and scrolls.
        QVector<HistogramBar> many;
        for (int i = 0; i < 200; ++i)
            many.append({QStringLiteral("run %1").arg(i), 1000.0 + i});
        QScrollArea area;
        area.setWidgetResizable(true);
        auto *scrolled = new HistogramWidget;
        area.setWidget(scrolled);
        area.resize(640, 420);
        scrolled->setBars(many);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        QVERIFY(scrolled->width() >= 200 * HistogramWidget::minimumBarSlotWidth);
        QVERIFY(area.horizontalScrollBar()->maximum() > 0);

        // Only the exposed bars are drawn: scrolled to the end, the last one still is.
        area.horizontalScrollBar()->setValue(area.horizontalScrollBar()->maximum());
        const QImage end = area.viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(pixelsOf(end, scrolled->barColor(199)) > 500, "the last bar is painted when scrolled to");
        QCOMPARE(pixelsOf(end, scrolled->barColor(0)), 0);
    }

    // The bar under a point is the one drawn there; the margins hold none.
    void barAtPoint()
    {
        HistogramWidget chart;
        chart.resize(640, 420);
        chart.setAxisTitle(QStringLiteral("Number of frames per second"));
        const QStringList labels{QStringLiteral("GP107. nvidia_535"),
                                 QStringLiteral("GP107. nouveau"),
                                 QStringLiteral("UHD 620. i915"),
                                 QStringLiteral("RX 6800. amdgpu")};
        QVector<HistogramBar> bars;
        for (const QString &label : labels)
            bars.append({label, 1000});
        chart.setBars(bars);
        QImage image(chart.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        chart.render(&image);

        const int y = image.height() * 2 / 3;
        QList<int> seen;
        for (int x = 0; x < image.width(); ++x) {
            for (int i = 0; i < bars.size(); ++i) {
                if (image.pixel(x, y) == chart.barColor(i).rgba()) {
                    QCOMPARE(chart.barAt(QPoint(x, y)), i);
                    if (!seen.contains(i))
                        seen.append(i);
                }
            }
        }
        QCOMPARE(seen, (QList<int>{0, 1, 2, 3}));
        QCOMPARE(chart.barAt(QPoint(2, y)), -1); // the value axis
        QCOMPARE(chart.barAt(QPoint(chart.width() - 1, y)), -1);
        chart.clearBars();
        QCOMPARE(chart.barAt(QPoint(chart.width() / 2, y)), -1);
    }
};

QTEST_MAIN(HistogramWidgetTest)
#include "histogramwidgettest.moc"
