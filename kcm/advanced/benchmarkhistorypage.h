// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "histogramwidget.h"
#include "isettingspage.h"

class BenchmarkSqlModel;
class BenchmarkStorage;
class QSortFilterProxyModel;
class Ui_BenchmarkHistoryPage;

// The stored benchmark runs, as a searchable, sortable table (comments editable, records
// deletable) or as a bar chart of the scores, optionally aggregated per configuration. The
// view, the search and the chart all work on the rows of one sort-and-filter proxy. The page
// changes no setting: it is never modified and saves nothing.
class BenchmarkHistoryPage : public ISettingsPage
{
    Q_OBJECT
public:
    // The history of the user's store (BenchmarkStorage::instance()).
    explicit BenchmarkHistoryPage(QWidget *parent);
    // The history of the given store, which must outlive the page.
    BenchmarkHistoryPage(BenchmarkStorage *store, QWidget *parent);
    ~BenchmarkHistoryPage() override;

    SaveResult saveSettings() override;
    bool isModified() const override;

    // "GPU. driver", followed by " (comment)" when the run has one, for a row of the proxy.
    QString composeLabel(int row) const;
    QString aggregationDescription(CVW::HistogramWidget::AggregationMode mode) const;

public Q_SLOTS:
    void onChangeMode(bool showChart);
    void onClearRecords();
    void onChangeSearchText(const QString &text);
    void onDeleteSelectedRecords();
    void showContextMenu(const QPoint &pos);
    void updateChartWithBars();

private:
    void reloadRecords();
    void updateClearButton();

    Ui_BenchmarkHistoryPage *ui;
    BenchmarkStorage *m_store;
    BenchmarkSqlModel *m_model = nullptr;
    QSortFilterProxyModel *m_proxy = nullptr;
    QString m_labelFormat; // "%1. %2", translated
    QString m_commentedLabelFormat; // "%1. %2 (%3)", translated
    bool m_deleting = false; // a batch of deletions is running; the table is re-read once after it
};
