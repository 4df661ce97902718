// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "benchmarkhistorypage.h"
#include "benchmarkstorage.h"
#include "ui_benchmarkhistorypage.h"

#include <KLocalizedString>

#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QShortcut>
#include <QSortFilterProxyModel>

namespace
{
enum Column { IdColumn = 0, DateColumn = 1, FpsColumn = 2, GpuColumn = 3, DriverColumn = 4, CommentColumn = 5 };

// Sorts on keys read once per column instead of twice per comparison: sorting a long history
// reads each cell once, not 2 log2(n) times. The search's cell texts are kept the same way.
// Rows appended at the end (SQLite's batches) extend both; any other change of the source
// drops them.
class HistoryProxyModel : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setSourceModel(QAbstractItemModel *source) override
    {
        for (const QMetaObject::Connection &connection : qAsConst(m_connections)) {
            disconnect(connection);
        }
        m_connections.clear();
        dropCached();
        // Connected before the base class connects its own handlers, which sort: the keys are
        // dropped before they could be read stale.
        if (source) {
            const auto drop = [this] {
                dropCached();
            };
            m_connections = {
                connect(source, &QAbstractItemModel::modelAboutToBeReset, this, drop),
                connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this, drop),
                connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, drop),
                connect(source, &QAbstractItemModel::rowsAboutToBeMoved, this, drop),
                connect(source, &QAbstractItemModel::dataChanged, this, drop),
                connect(source,
                        &QAbstractItemModel::rowsAboutToBeInserted,
                        this,
                        [this](const QModelIndex &, int first) {
                            if (first < m_keys.size() || first < m_texts.size()) {
                                dropCached();
                            }
                        }),
            };
        }
        QSortFilterProxyModel::setSourceModel(source);
    }

protected:
    // The search box filters on a fixed text in every column. The cells' texts are read once
    // and kept, so a keystroke in a long history compares strings instead of asking the SQL
    // model for every cell again.
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override
    {
        const QRegExp &filter = filterRegExp();
        if (sourceParent.isValid() || filterKeyColumn() != -1 || filter.patternSyntax() != QRegExp::FixedString) {
            return QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent);
        }
        if (filter.pattern().isEmpty()) {
            return true;
        }
        const int columns = sourceModel()->columnCount();
        for (int row = m_texts.size(); row <= sourceRow; ++row) {
            QStringList cells;
            cells.reserve(columns);
            for (int column = 0; column < columns; ++column) {
                cells.append(sourceModel()->index(row, column).data(filterRole()).toString());
            }
            m_texts.append(cells);
        }
        const QStringList &cells = m_texts.at(sourceRow);
        return std::any_of(cells.begin(), cells.end(), [&](const QString &cell) {
            return cell.contains(filter.pattern(), filter.caseSensitivity());
        });
    }

    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override
    {
        if (left.column() != m_keyColumn || sortRole() != m_keyRole) {
            dropKeys();
            m_keyColumn = left.column();
            m_keyRole = sortRole();
        }
        const int rows = sourceModel()->rowCount();
        for (int row = m_keys.size(); row < rows; ++row) {
            m_keys.append(keyOf(sourceModel()->index(row, m_keyColumn).data(m_keyRole)));
        }
        const Key &a = m_keys[left.row()];
        const Key &b = m_keys[right.row()];
        if (a.kind != b.kind) {
            return a.kind < b.kind;
        }
        if (a.kind == Key::Number) {
            return a.number < b.number;
        }
        if (a.kind == Key::Text) {
            return isSortLocaleAware() ? a.text.localeAwareCompare(b.text) < 0 : a.text.compare(b.text, sortCaseSensitivity()) < 0;
        }
        return false;
    }

private:
    // Empty cells first, then numbers by value, then texts.
    struct Key {
        enum Kind { Empty, Number, Text } kind = Empty;
        double number = 0.0;
        QString text;
    };

    static Key keyOf(const QVariant &value)
    {
        Key key;
        if (!value.isValid() || value.isNull()) {
            return key;
        }
        switch (value.userType()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            key.kind = Key::Number;
            key.number = value.toDouble();
            break;
        default:
            key.kind = Key::Text;
            key.text = value.toString();
        }
        return key;
    }

    void dropKeys() const
    {
        m_keys.clear();
    }

    void dropCached() const
    {
        dropKeys();
        m_texts.clear();
    }

    mutable QVector<Key> m_keys; // by source row
    mutable QVector<QStringList> m_texts; // by source row: the search's cell texts
    mutable int m_keyColumn = -1;
    mutable int m_keyRole = -1;
    QList<QMetaObject::Connection> m_connections;
};
}

BenchmarkHistoryPage::BenchmarkHistoryPage(QWidget *parent)
    : BenchmarkHistoryPage(BenchmarkStorage::instance(), parent)
{
}

BenchmarkHistoryPage::BenchmarkHistoryPage(BenchmarkStorage *store, QWidget *parent)
    : ISettingsPage(parent)
    , ui(new Ui_BenchmarkHistoryPage)
    , m_store(store)
{
    ui->setupUi(this);
    // Translated once: a chart of a long history has a label for every run.
    m_labelFormat = ki18nc("@label bar of the chart: %1 GPU, %2 driver", "%1. %2").subs(QStringLiteral("%1")).subs(QStringLiteral("%2")).toString();
    m_commentedLabelFormat = ki18nc("@label bar of the chart: %1 GPU, %2 driver, %3 comment", "%1. %2 (%3)")
                                 .subs(QStringLiteral("%1"))
                                 .subs(QStringLiteral("%2"))
                                 .subs(QStringLiteral("%3"))
                                 .toString();
    ui->histogramWidget->setSortMode(CVW::HistogramWidget::KeepOrder);
    ui->histogramWidget->setGridStep(500);
    ui->histogramWidget->setAxisTitle(i18n("Number of frames per second"));
    ui->histogramWidget->setValueSuffix(i18n("FPS"));

    m_model = m_store->createModel(this);
    if (!m_model) {
        // Nothing to show or change: the warning says why, and no button pretends otherwise.
        ui->btnClearRecords->setEnabled(false);
        return;
    }
    ui->warningMessage->hide();

    m_proxy = new HistoryProxyModel(this);
    // Dates sort by their stored seconds, scores as numbers.
    m_proxy->setSortRole(Qt::EditRole);
    m_proxy->setSourceModel(m_model);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setFilterKeyColumn(-1);

    QTreeView *view = ui->historyTableView;
    view->setModel(m_proxy);
    view->hideColumn(IdColumn);
    view->sortByColumn(IdColumn, Qt::DescendingOrder);
    view->header()->setSectionResizeMode(DateColumn, QHeaderView::ResizeToContents);
    view->header()->setSectionResizeMode(FpsColumn, QHeaderView::ResizeToContents); // the long header stays readable
    view->header()->setSectionResizeMode(DriverColumn, QHeaderView::ResizeToContents);
    view->setContextMenuPolicy(Qt::CustomContextMenu);

    auto *deleteShortcut = new QShortcut(QKeySequence(Qt::Key_Delete), view, nullptr, nullptr, Qt::WindowShortcut);
    connect(deleteShortcut, &QShortcut::activated, this, &BenchmarkHistoryPage::onDeleteSelectedRecords);

    ui->lineEditSearch->addAction(QIcon::fromTheme(QStringLiteral("edit-find")), QLineEdit::LeadingPosition);

    connect(view, &QWidget::customContextMenuRequested, this, &BenchmarkHistoryPage::showContextMenu);
    connect(ui->chBoxChangeMode, &QCheckBox::clicked, this, &BenchmarkHistoryPage::onChangeMode);
    connect(ui->btnClearRecords, &QPushButton::clicked, this, &BenchmarkHistoryPage::onClearRecords);
    connect(ui->lineEditSearch, &QLineEdit::textChanged, this, &BenchmarkHistoryPage::onChangeSearchText);

    using Mode = CVW::HistogramWidget::AggregationMode;
    const QList<QPair<QString, Mode>> modes = {
        {i18n("Average"), Mode::Average},
        {i18n("Median"), Mode::Median},
        {i18n("Maximum"), Mode::Maximum},
        {i18n("All entries"), Mode::AllEntries},
    };
    for (const auto &mode : modes) {
        ui->aggregationCombo->addItem(mode.first, int(mode.second));
    }
    connect(ui->aggregationCombo, qOverload<int>(&QComboBox::currentIndexChanged), this, &BenchmarkHistoryPage::updateChartWithBars);

    connect(m_store, &BenchmarkStorage::dataChanged, this, [this] {
        if (!m_deleting) {
            reloadRecords();
        }
    });

    connect(m_model, &QAbstractItemModel::rowsInserted, this, &BenchmarkHistoryPage::updateClearButton);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &BenchmarkHistoryPage::updateClearButton);
    connect(m_model, &QAbstractItemModel::modelReset, this, &BenchmarkHistoryPage::updateClearButton);
    updateClearButton();
}

BenchmarkHistoryPage::~BenchmarkHistoryPage()
{
    delete ui;
}

SaveResult BenchmarkHistoryPage::saveSettings()
{
    return {SaveStatus::NoChanges, QString()};
}

bool BenchmarkHistoryPage::isModified() const
{
    return false;
}

void BenchmarkHistoryPage::reloadRecords()
{
    m_model->select();
    if (ui->stackedWidget->currentWidget() == ui->chartPage) {
        updateChartWithBars();
    }
}

void BenchmarkHistoryPage::updateClearButton()
{
    ui->btnClearRecords->setEnabled(m_model->rowCount() > 0);
}

QString BenchmarkHistoryPage::composeLabel(int row) const
{
    if (!m_proxy) {
        return QString();
    }
    // The row is one of the proxy's (sorted and filtered), so every column is read through it.
    const QString gpu = m_proxy->index(row, GpuColumn).data().toString();
    const QString driver = m_proxy->index(row, DriverColumn).data().toString();
    const QString comment = m_proxy->index(row, CommentColumn).data().toString();
    return comment.isEmpty() ? m_labelFormat.arg(gpu, driver) : m_commentedLabelFormat.arg(gpu, driver, comment);
}

QString BenchmarkHistoryPage::aggregationDescription(CVW::HistogramWidget::AggregationMode mode) const
{
    switch (mode) {
    case CVW::HistogramWidget::Average:
        return i18n("The average FPS for each GPU and driver");
    case CVW::HistogramWidget::Median:
        return i18n("Median FPS value, smoothing out the impact of sudden fluctuations");
    case CVW::HistogramWidget::Maximum:
        return i18n("The maximum recorded FPS for each configuration");
    case CVW::HistogramWidget::AllEntries:
        return i18n("All individual entries without aggregation");
    }
    return QString();
}

void BenchmarkHistoryPage::onChangeMode(bool showChart)
{
    if (showChart) {
        ui->stackedWidget->setCurrentWidget(ui->chartPage);
        updateChartWithBars();
    } else {
        ui->stackedWidget->setCurrentWidget(ui->tablePage);
    }
}

void BenchmarkHistoryPage::onChangeSearchText(const QString &text)
{
    if (!m_proxy) {
        return;
    }
    m_proxy->setFilterFixedString(text);
    QPalette palette = ui->lineEditSearch->palette();
    if (!text.isEmpty() && m_proxy->rowCount() == 0) {
        QColor nothingFound(Qt::red);
        nothingFound.setAlpha(200);
        palette.setColor(QPalette::Text, nothingFound);
    } else {
        palette.setColor(QPalette::Text, palette.color(QPalette::WindowText));
    }
    ui->lineEditSearch->setPalette(palette);
}

void BenchmarkHistoryPage::updateChartWithBars()
{
    if (!m_proxy || m_proxy->rowCount() == 0) {
        ui->histogramWidget->clearBars();
        return;
    }
    QVector<CVW::HistogramBar> bars;
    bars.reserve(m_proxy->rowCount());
    for (int row = 0; row < m_proxy->rowCount(); ++row) {
        bool isNumber = false;
        const int fps = m_proxy->index(row, FpsColumn).data().toInt(&isNumber);
        if (!isNumber) {
            continue;
        }
        bars.append(CVW::HistogramBar(composeLabel(row), fps, QColor()));
    }

    const QVariant data = ui->aggregationCombo->currentData();
    if (!data.canConvert<CVW::HistogramWidget::AggregationMode>()) {
        ui->histogramWidget->setBars(bars);
        return;
    }
    const auto mode = data.value<CVW::HistogramWidget::AggregationMode>();
    ui->histogramWidget->setBars(CVW::HistogramWidget::aggregateBars(bars, mode));
    ui->groupBox->setTitle(aggregationDescription(mode));
}

void BenchmarkHistoryPage::onDeleteSelectedRecords()
{
    if (!m_proxy) {
        return;
    }
    const QModelIndexList selected = ui->historyTableView->selectionModel()->selectedRows(IdColumn);
    if (selected.isEmpty()) {
        return;
    }
    const int count = selected.size();
    const auto answer = QMessageBox::question(this,
                                              i18n("Delete records"),
                                              i18np("Are you sure you want to delete this record?", "Are you sure you want to delete %1 records?", count),
                                              QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::NoButton);
    if (answer != QMessageBox::Yes) {
        return;
    }

    QSet<int> ids;
    for (const QModelIndex &index : selected) {
        const QModelIndex source = m_proxy->mapToSource(index);
        const QVariant id = m_model->index(source.row(), IdColumn).data(Qt::EditRole);
        if (id.isValid()) {
            ids.insert(id.toInt());
        }
    }

    // Each deletion makes the store announce a change; the table (and the chart) are read
    // again once, after the last one, not once per record.
    int failures = 0;
    int deleted = 0;
    m_deleting = true;
    for (int id : qAsConst(ids)) {
        if (m_store->deleteById(id)) {
            ++deleted;
        } else {
            ++failures;
        }
    }
    m_deleting = false;
    if (deleted > 0) {
        reloadRecords();
    }

    if (failures > 0) {
        QMessageBox::critical(this, QString(), i18np("%1 record failed to delete.", "%1 records failed to delete.", failures), QMessageBox::Ok);
    }
}

void BenchmarkHistoryPage::showContextMenu(const QPoint &pos)
{
    if (!m_proxy) {
        return;
    }
    QTreeView *view = ui->historyTableView;
    const QModelIndex index = view->indexAt(pos);
    if (!index.isValid()) {
        return;
    }
    // A right click on a row outside the selection acts on that row alone, as the menu says.
    QItemSelectionModel *selection = view->selectionModel();
    if (!selection->isRowSelected(index.row(), index.parent())) {
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    const int count = selection->selectedRows(IdColumn).size();

    QMenu menu(this);
    QAction *deleteAction = menu.addAction(QIcon::fromTheme(QStringLiteral("list-remove")), i18np("Delete record", "Delete %1 records", count));
    if (menu.exec(view->viewport()->mapToGlobal(pos)) == deleteAction) {
        onDeleteSelectedRecords();
    }
}

void BenchmarkHistoryPage::onClearRecords()
{
    if (!m_model) {
        return;
    }
    const auto answer = QMessageBox::question(this,
                                              i18n("Clear all records"),
                                              i18n("Are you sure you want to delete all benchmark results?"),
                                              QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::NoButton);
    if (answer != QMessageBox::Yes) {
        return;
    }
    if (!m_store->clearAll()) {
        QMessageBox::critical(this, QString(), i18n("Error when deleting records"), QMessageBox::Ok);
    }
}
