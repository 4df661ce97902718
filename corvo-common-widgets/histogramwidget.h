// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QColor>
#include <QMetaType>
#include <QString>
#include <QVector>
#include <QWidget>

namespace CVW
{

// One bar of the chart. Bars with the same label belong to one configuration: they share a
// colour and are merged by the aggregation modes. An invalid colour lets the widget choose.
struct HistogramBar {
    HistogramBar() = default;
    HistogramBar(const QString &label, double value, const QColor &color = QColor())
        : label(label)
        , value(value)
        , color(color)
    {
    }
    bool operator==(const HistogramBar &other) const
    {
        return label == other.label && value == other.value && color == other.color;
    }

    QString label;
    double value = 0.0;
    QColor color;
};

// A vertical bar chart with a value axis, grid lines, an axis title and a suffix for the
// shown values. Each bar asks for a minimum width, so inside a resizable scroll area a long
// series scrolls instead of squeezing the bars.
class HistogramWidget : public QWidget
{
    Q_OBJECT
public:
    enum AggregationMode {
        Average = 0, // the mean value of each configuration
        Median = 1, // the median of each configuration (mean of the two middle values for an even count)
        Maximum = 2, // the highest value of each configuration
        AllEntries = 3, // every bar as given
    };
    Q_ENUM(AggregationMode)

    enum SortMode {
        SortByLabel = 0,
        SortByValueDescending = 1,
        KeepOrder = 2, // the bars stay in the order they were given
    };
    Q_ENUM(SortMode)

    explicit HistogramWidget(QWidget *parent = nullptr);

    // Configurations in the order their label first appears; linear in the number of bars.
    static QVector<HistogramBar> aggregateBars(const QVector<HistogramBar> &bars, AggregationMode mode);

    void setBars(const QVector<HistogramBar> &bars);
    void clearBars();
    QVector<HistogramBar> bars() const;

    void setSortMode(SortMode mode);
    SortMode sortMode() const;
    void setGridStep(int step);
    int gridStep() const;
    void setAxisTitle(const QString &title);
    QString axisTitle() const;
    void setValueSuffix(const QString &suffix);
    QString valueSuffix() const;

    // The colour a bar is drawn with: its own if valid, else one per configuration.
    QColor barColor(int index) const;

    // The index of the bar whose slot holds the point (in widget coordinates), or -1.
    int barAt(const QPoint &pos) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int minimumBarSlotWidth = 56;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    QString valueText(double value, bool withSuffix = true) const;
    QRect plotRect() const;
    int leftMargin() const;
    int bottomMargin() const;

    QVector<HistogramBar> m_bars; // in drawing order
    QVector<QColor> m_colors;
    double m_top = 0.0; // the highest value shown
    SortMode m_sortMode = KeepOrder;
    int m_gridStep = 0;
    QString m_axisTitle;
    QString m_valueSuffix;
    QVector<HistogramBar> m_given;
};

} // namespace CVW

Q_DECLARE_METATYPE(CVW::HistogramBar)
