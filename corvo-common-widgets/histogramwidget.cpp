// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "histogramwidget.h"

#include <QFontMetrics>
#include <QHash>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace CVW
{

namespace
{
constexpr int outerMargin = 8;
constexpr int labelLines = 3;
constexpr int titleLines = 2;

// The text broken into at most maxLines lines of the given width, at word boundaries where it
// can (inside a word where a word is wider than a line); a last line that cannot hold the
// rest ends in an ellipsis.
QStringList wrappedLines(const QString &text, const QFont &font, int width, int maxLines)
{
    QStringList lines;
    if (width <= 0)
        return lines;
    const QFontMetrics fm(font);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (int n = 0; n < maxLines; ++n) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        const int end = line.textStart() + line.textLength();
        if (n == maxLines - 1 && end < text.size())
            lines.append(fm.elidedText(text.mid(line.textStart()).trimmed(), Qt::ElideRight, width));
        else
            lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines;
}

void drawLines(QPainter &painter, const QRectF &rect, const QStringList &lines, int lineHeight)
{
    for (int i = 0; i < lines.size(); ++i)
        painter.drawText(QRectF(rect.left(), rect.top() + i * lineHeight, rect.width(), lineHeight), Qt::AlignHCenter | Qt::AlignTop, lines[i]);
}

double medianOf(double *begin, double *end)
{
    const auto count = end - begin;
    double *const middle = begin + count / 2;
    std::nth_element(begin, middle, end);
    const double upper = *middle;
    if (count % 2 == 1)
        return upper;
    // The lower middle value is the largest of the part in front of the upper one.
    const double lower = *std::max_element(begin, middle);
    return (lower + upper) / 2.0;
}

// A grid step that gives about five lines when none is set or the set one would crowd the axis.
double usableStep(double top, int requested)
{
    double step = requested > 0 ? requested : 0.0;
    if (step <= 0.0) {
        const double raw = top / 5.0;
        const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
        const double fraction = raw / magnitude;
        step = (fraction <= 1.0 ? 1.0 : fraction <= 2.0 ? 2.0 : fraction <= 5.0 ? 5.0 : 10.0) * magnitude;
    }
    while (top / step > 20.0)
        step *= 2.0;
    return step;
}
} // namespace

HistogramWidget::HistogramWidget(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QVector<HistogramBar> HistogramWidget::aggregateBars(const QVector<HistogramBar> &bars, AggregationMode mode)
{
    if (mode == AllEntries)
        return bars;

    // Two passes, so that each configuration's values lie side by side in one array filled
    // once (no growing per configuration): the group of every bar, then the values by group.
    QHash<QString, int> groupOfLabel;
    QVector<int> groupOfBar(bars.size());
    QVector<int> firstBar; // of each group
    QVector<int> end; // of each group's values; first the counts
    for (int i = 0; i < bars.size(); ++i) {
        auto found = groupOfLabel.find(bars[i].label);
        if (found == groupOfLabel.end()) {
            found = groupOfLabel.insert(bars[i].label, firstBar.size());
            firstBar.append(i);
            end.append(0);
        }
        groupOfBar[i] = found.value();
        ++end[found.value()];
    }
    for (int group = 1; group < end.size(); ++group)
        end[group] += end[group - 1];
    QVector<double> values(bars.size());
    QVector<int> fill(end.size());
    for (int group = 1; group < end.size(); ++group)
        fill[group] = end[group - 1];
    for (int i = 0; i < bars.size(); ++i)
        values[fill[groupOfBar[i]]++] = bars[i].value;

    QVector<HistogramBar> result;
    result.reserve(firstBar.size());
    for (int group = 0; group < firstBar.size(); ++group) {
        double *const begin = values.data() + (group == 0 ? 0 : end[group - 1]);
        double *const stop = values.data() + end[group];
        double value = 0.0;
        switch (mode) {
        case Average:
            value = std::accumulate(begin, stop, 0.0) / (stop - begin);
            break;
        case Median:
            value = medianOf(begin, stop);
            break;
        case Maximum:
            value = *std::max_element(begin, stop);
            break;
        case AllEntries:
            break;
        }
        const HistogramBar &first = bars[firstBar[group]];
        result.append(HistogramBar(first.label, value, first.color));
    }
    return result;
}

void HistogramWidget::setBars(const QVector<HistogramBar> &bars)
{
    m_given = bars;
    refresh();
}

void HistogramWidget::clearBars()
{
    setBars({});
}

QVector<HistogramBar> HistogramWidget::bars() const
{
    return m_bars;
}

void HistogramWidget::setSortMode(SortMode mode)
{
    m_sortMode = mode;
    refresh();
}

HistogramWidget::SortMode HistogramWidget::sortMode() const
{
    return m_sortMode;
}

void HistogramWidget::setGridStep(int step)
{
    m_gridStep = step;
    update();
}

int HistogramWidget::gridStep() const
{
    return m_gridStep;
}

void HistogramWidget::setAxisTitle(const QString &title)
{
    m_axisTitle = title;
    updateGeometry();
    update();
}

QString HistogramWidget::axisTitle() const
{
    return m_axisTitle;
}

void HistogramWidget::setValueSuffix(const QString &suffix)
{
    m_valueSuffix = suffix;
    updateGeometry();
    update();
}

QString HistogramWidget::valueSuffix() const
{
    return m_valueSuffix;
}

void HistogramWidget::refresh()
{
    m_bars = m_given;
    if (m_sortMode == SortByLabel)
        std::stable_sort(m_bars.begin(), m_bars.end(), [](const HistogramBar &a, const HistogramBar &b) {
            return QString::localeAwareCompare(a.label, b.label) < 0;
        });
    else if (m_sortMode == SortByValueDescending)
        std::stable_sort(m_bars.begin(), m_bars.end(), [](const HistogramBar &a, const HistogramBar &b) {
            return a.value > b.value;
        });

    m_top = 0.0;
    for (const HistogramBar &bar : qAsConst(m_bars))
        m_top = std::max(m_top, bar.value);

    // One colour per configuration, spread round the hue circle in first-seen order.
    m_colors.clear();
    m_colors.reserve(m_bars.size());
    QHash<QString, int> configuration;
    for (const HistogramBar &bar : qAsConst(m_bars)) {
        if (bar.color.isValid()) {
            m_colors.append(bar.color);
            continue;
        }
        int index = configuration.value(bar.label, -1);
        if (index < 0) {
            index = configuration.size();
            configuration.insert(bar.label, index);
        }
        const int hue = (index * 137 + 210) % 360; // golden-angle steps keep neighbours apart
        m_colors.append(QColor::fromHsv(hue, 160, 200).toRgb());
    }
    updateGeometry();
    update();
}

QColor HistogramWidget::barColor(int index) const
{
    return index >= 0 && index < m_colors.size() ? m_colors[index] : QColor();
}

QString HistogramWidget::valueText(double value, bool withSuffix) const
{
    const bool whole = std::abs(value - std::round(value)) < 0.05;
    QString text = QLocale().toString(value, 'f', whole ? 0 : 1);
    if (withSuffix && !m_valueSuffix.isEmpty())
        text += QLatin1Char(' ') + m_valueSuffix;
    return text;
}

int HistogramWidget::leftMargin() const
{
    const QFontMetrics fm(font());
    const double top = m_top;
    const int titleWidth = m_axisTitle.isEmpty() ? 0 : fm.height() * titleLines + outerMargin;
    return outerMargin + titleWidth + fm.horizontalAdvance(valueText(std::max(top, 1000.0) * 10)) + outerMargin;
}

int HistogramWidget::bottomMargin() const
{
    return QFontMetrics(font()).height() * labelLines + outerMargin;
}

QSize HistogramWidget::minimumSizeHint() const
{
    const int height = bottomMargin() + QFontMetrics(font()).height() * 8;
    return QSize(leftMargin() + std::max<int>(m_bars.size(), 1) * minimumBarSlotWidth + outerMargin, height);
}

QSize HistogramWidget::sizeHint() const
{
    const QSize minimum = minimumSizeHint();
    return QSize(std::max(minimum.width(), 480), std::max(minimum.height(), 320));
}

QRect HistogramWidget::plotRect() const
{
    const QFontMetrics fm(font());
    const int left = leftMargin();
    return QRect(left, outerMargin + fm.height(), width() - left - outerMargin, height() - bottomMargin() - outerMargin - fm.height());
}

int HistogramWidget::barAt(const QPoint &pos) const
{
    const QRect plot = plotRect();
    if (m_bars.isEmpty() || plot.width() <= 0 || pos.x() < plot.left() || pos.x() > plot.right() || pos.y() < 0 || pos.y() >= height())
        return -1;
    const double slot = double(plot.width()) / m_bars.size();
    return std::min(int((pos.x() - plot.left()) / slot), int(m_bars.size()) - 1);
}

bool HistogramWidget::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        // Labels of narrow bars are cut short; the tool tip has the whole label and value.
        auto *help = static_cast<QHelpEvent *>(event);
        const int index = barAt(help->pos());
        if (index < 0) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), m_bars[index].label + QLatin1Char('\n') + valueText(m_bars[index].value), this);
        }
        return true;
    }
    return QWidget::event(event);
}

void HistogramWidget::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QFontMetrics fm(font());
    const QColor textColor = palette().color(QPalette::WindowText);
    QColor gridColor = textColor;
    gridColor.setAlpha(60);

    const QRect plot = plotRect();
    if (plot.width() <= 0 || plot.height() <= 0)
        return;

    const double top = m_top;
    const double step = usableStep(top > 0.0 ? top : 1.0, m_gridStep);
    const double axisTop = std::max(step, std::ceil(top / step) * step);
    auto yOf = [&](double value) {
        return plot.bottom() - (std::max(0.0, value) / axisTop) * plot.height();
    };

    // Value axis with its grid lines and labels.
    painter.setPen(textColor);
    for (double v = 0.0; v <= axisTop + step / 2; v += step) {
        const int y = qRound(yOf(v));
        painter.setPen(gridColor);
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(textColor);
        const QRect labelRect(outerMargin, y - fm.height() / 2, plot.left() - 2 * outerMargin + 2, fm.height());
        painter.drawText(labelRect, Qt::AlignRight | Qt::AlignVCenter, valueText(v));
    }
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    if (!m_axisTitle.isEmpty()) {
        painter.save();
        painter.translate(outerMargin, plot.center().y());
        painter.rotate(-90);
        // Wrapped onto a second line when the plot is not tall enough for it.
        const QStringList lines = wrappedLines(m_axisTitle, font(), plot.height(), titleLines);
        const int shift = (titleLines - lines.size()) * fm.height() / 2;
        drawLines(painter, QRectF(-plot.height() / 2, shift, plot.height(), fm.height() * titleLines), lines, fm.height());
        painter.restore();
    }

    if (m_bars.isEmpty())
        return;
    const double slot = double(plot.width()) / m_bars.size();
    const double barWidth = std::max(4.0, slot * 0.7);
    // Inside a scroll area only a few of many thousand bars are exposed; only those are drawn.
    const int first = std::clamp(int(std::floor((event->rect().left() - plot.left()) / slot)), 0, int(m_bars.size()) - 1);
    const int last = std::clamp(int(std::ceil((event->rect().right() + 1 - plot.left()) / slot)), 0, int(m_bars.size()) - 1);
    for (int i = first; i <= last; ++i) {
        const HistogramBar &bar = m_bars[i];
        const double x = plot.left() + i * slot + (slot - barWidth) / 2;
        const double y = yOf(bar.value);
        const QRectF body(x, y, barWidth, plot.bottom() - y);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_colors[i]);
        painter.drawRect(body);

        painter.setPen(textColor);
        const QRectF valueRect(plot.left() + i * slot, y - fm.height() - 2, slot, fm.height());
        // Without the suffix (the value axis shows it) when the whole text is wider than the bar.
        QString value = valueText(bar.value);
        if (fm.horizontalAdvance(value) > slot - 2)
            value = valueText(bar.value, false);
        painter.drawText(valueRect, Qt::AlignHCenter | Qt::AlignBottom, fm.elidedText(value, Qt::ElideRight, int(slot)));
        const QRectF labelRect(plot.left() + i * slot + 2, plot.bottom() + 4, slot - 4, fm.height() * labelLines);
        drawLines(painter, labelRect, wrappedLines(bar.label, font(), int(labelRect.width()), labelLines), fm.height());
    }
}

} // namespace CVW
