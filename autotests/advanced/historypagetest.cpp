// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark history page on real SQLite stores: labels and bars read from the sorted and
// filtered rows, the search colour, deleting (key, context menu, failures), clearing, a store
// that cannot be opened, the user's store in a temporary home, and a history of 100,000 runs.
#include "advancedsettingsdialog.h"
#include "benchmarkhistorypage.h"
#include "benchmarkstorage.h"

#include "dialoganswerer.h"
#include "widgetlookup.h"

#include <KMessageWidget>

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <memory>

using CVW::HistogramBar;
using CVW::HistogramWidget;
using Bars = QVector<HistogramBar>;
using Ids = QList<int>;
Q_DECLARE_METATYPE(Bars)

namespace
{
const QString gp107Nvidia = QStringLiteral("GP107. nvidia_535");
const QString gp107Fan = QStringLiteral("GP107. nvidia_535 (fan at max)");
const QString gp107Nouveau = QStringLiteral("GP107. nouveau");
const QString uhdI915 = QStringLiteral("UHD 620. i915");

qint64 localSeconds(int day, int hour, int minute, int second)
{
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second), Qt::LocalTime).toSecsSinceEpoch();
}

// Picks the action with the given text from the next popup menu, or closes it when the text
// is empty; keeps the texts of the actions it saw.
class MenuAnswerer : public QObject
{
public:
    explicit MenuAnswerer(const QString &pick)
        : m_pick(pick)
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu) {
                return;
            }
            QAction *chosen = nullptr;
            for (QAction *action : menu->actions()) {
                seen.append(action->text());
                if (!m_pick.isEmpty() && action->text() == m_pick) {
                    chosen = action;
                }
            }
            if (chosen) {
                menu->setActiveAction(chosen);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                menu->close();
            }
        });
        m_timer.start();
    }
    QStringList seen;

private:
    QString m_pick;
    QTimer m_timer;
};
}

class HistoryPageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    int m_stores = 0;
    QString m_connection;

    // A store of its own over a fresh file, holding six runs (ids 1 to 6; 6 is the newest):
    //   1 GP107 nvidia_535 1200 (2024-03-05 14:07:09)   2 GP107 nvidia_535 1500 "fan at max"
    //   3 GP107 nouveau 800   4 GP107 nvidia_535 1900   5 GP107 nvidia_535 1300
    //   6 UHD 620 i915 "n/a" (a score that is not a number)
    std::unique_ptr<BenchmarkStorage> sixRuns()
    {
        auto store = emptyStore();
        QSqlQuery query(QSqlDatabase::database(m_connection));
        query.prepare(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver, comment) VALUES (?, ?, ?, ?, ?)"));
        const struct {
            qint64 date;
            QVariant fps;
            const char *gpu;
            const char *driver;
            QVariant comment;
        } runs[] = {
            {localSeconds(5, 14, 7, 9), 1200, "GP107", "nvidia_535", QVariant()},
            {localSeconds(6, 10, 0, 0), 1500, "GP107", "nvidia_535", QStringLiteral("fan at max")},
            {localSeconds(7, 10, 0, 0), 800, "GP107", "nouveau", QVariant()},
            {localSeconds(8, 10, 0, 0), 1900, "GP107", "nvidia_535", QString()},
            {localSeconds(9, 10, 0, 0), 1300, "GP107", "nvidia_535", QVariant()},
            {localSeconds(10, 10, 0, 0), QStringLiteral("n/a"), "UHD 620", "i915", QVariant()},
        };
        for (const auto &run : runs) {
            query.addBindValue(run.date);
            query.addBindValue(run.fps);
            query.addBindValue(QString::fromLatin1(run.gpu));
            query.addBindValue(QString::fromLatin1(run.driver));
            query.addBindValue(run.comment);
            if (!query.exec()) {
                qFatal("seeding failed");
            }
        }
        return store;
    }

    std::unique_ptr<BenchmarkStorage> emptyStore()
    {
        m_connection = QStringLiteral("history_%1").arg(++m_stores);
        return std::make_unique<BenchmarkStorage>(m_home.filePath(m_connection + QStringLiteral(".db")), m_connection);
    }

    // Makes the database refuse to delete the runs the condition names (a real SQLite error).
    void lockRuns(const QString &condition)
    {
        QSqlQuery query(QSqlDatabase::database(m_connection));
        QVERIFY(query.exec(
            QStringLiteral("CREATE TRIGGER locked BEFORE DELETE ON benchmark_results WHEN %1 BEGIN SELECT RAISE(ABORT, 'locked'); END").arg(condition)));
    }

    Ids storedIds() const
    {
        Ids ids;
        QSqlQuery query(QSqlDatabase::database(m_connection));
        query.exec(QStringLiteral("SELECT id FROM benchmark_results ORDER BY id"));
        while (query.next()) {
            ids.append(query.value(0).toInt());
        }
        return ids;
    }

    static QTreeView *view(BenchmarkHistoryPage &page)
    {
        return child<QTreeView>(&page, "historyTableView");
    }

    static QStringList labels(BenchmarkHistoryPage &page)
    {
        QStringList result;
        for (int row = 0; row < view(page)->model()->rowCount(); ++row) {
            result.append(page.composeLabel(row));
        }
        return result;
    }

    // Shows the page as a window of its own and waits until it can take keys.
    static void showActive(QWidget &page)
    {
        page.resize(700, 420);
        page.show();
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
    }

    static void clickRow(QTreeView *tree, int row)
    {
        const QRect rect = tree->visualRect(tree->model()->index(row, 2));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }

    static void setMode(BenchmarkHistoryPage &page, HistogramWidget::AggregationMode mode)
    {
        auto *combo = child<QComboBox>(&page, "aggregationCombo");
        combo->setCurrentIndex(combo->findData(int(mode)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
    }

    // The rows the labels come from are the proxy's: in view order, after sorting and filtering.
    void labelsFollowViewRows_data()
    {
        QTest::addColumn<int>("sortColumn");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("newest first") << -1 << QString() << QStringList{uhdI915, gp107Nvidia, gp107Nvidia, gp107Nouveau, gp107Fan, gp107Nvidia};
        QTest::newRow("sorted by driver") << 4 << QString() << QStringList{uhdI915, gp107Nouveau, gp107Nvidia, gp107Nvidia, gp107Fan, gp107Nvidia};
        QTest::newRow("search FAN") << -1 << QStringLiteral("FAN") << QStringList{gp107Fan};
        QTest::newRow("search by shown date") << -1 << QStringLiteral("2024-03-05 14:07:09") << QStringList{gp107Nvidia};
        QTest::newRow("search matching nothing") << -1 << QStringLiteral("radeon") << QStringList{};
    }
    void labelsFollowViewRows()
    {
        QFETCH(int, sortColumn);
        QFETCH(QString, search);
        QFETCH(QStringList, expected);
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        QAbstractItemModelTester tester(view(page)->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        if (sortColumn >= 0) {
            view(page)->sortByColumn(sortColumn, Qt::AscendingOrder);
        }
        child<QLineEdit>(&page, "lineEditSearch")->setText(search);
        QCOMPARE(labels(page), expected);
    }

    // The column headers are readable at the dialog's size: none but the last is cut short.
    void headersFit()
    {
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        showActive(page);
        QHeaderView *header = view(page)->header();
        const QAbstractItemModel *model = view(page)->model();
        for (int column = 1; column < model->columnCount() - 1; ++column) {
            const QString text = model->headerData(column, Qt::Horizontal).toString();
            const int needed = header->fontMetrics().horizontalAdvance(text);
            QVERIFY2(header->sectionSize(column) >= needed, qPrintable(text));
        }
    }

    // A search shows what the store holds now: runs added, deleted or commented after the
    // search was typed are found or dropped.
    void searchFollowsChanges()
    {
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        QAbstractItemModel *proxy = view(page)->model();
        QAbstractItemModelTester tester(proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        auto *search = child<QLineEdit>(&page, "lineEditSearch");
        search->setText(QStringLiteral("nouveau"));
        QCOMPARE(labels(page), QStringList{gp107Nouveau});
        store->insertResult(900, QStringLiteral("GP107"), QStringLiteral("nouveau"));
        QCOMPARE(labels(page), (QStringList{gp107Nouveau, gp107Nouveau}));
        QVERIFY(store->deleteById(3));
        QCOMPARE(labels(page), QStringList{gp107Nouveau});
        search->setText(QStringLiteral("edited"));
        QCOMPARE(labels(page), QStringList{});
        search->clear();
        QVERIFY(proxy->setData(proxy->index(proxy->rowCount() - 1, 5), QStringLiteral("edited")));
        search->setText(QStringLiteral("EDITED"));
        QCOMPARE(labels(page), QStringList{gp107Nvidia + QStringLiteral(" (edited)")});
    }

    // The order a header click chooses holds through the store's changes and an edited comment
    // (each re-reads the whole table); dates sort by time, scores as numbers.
    void sortOrderHolds_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<Ids>("initial");
        QTest::addColumn<Ids>("afterInsert"); // run 7: 1000 FPS on GP107 nvidia_535, dated now
        QTest::addColumn<Ids>("afterDelete"); // run 3 deleted

        QTest::newRow("score ascending") << 2 << int(Qt::AscendingOrder) << Ids{3, 1, 5, 2, 4, 6} << Ids{3, 7, 1, 5, 2, 4, 6} << Ids{7, 1, 5, 2, 4, 6};
        QTest::newRow("date descending") << 1 << int(Qt::DescendingOrder) << Ids{6, 5, 4, 3, 2, 1} << Ids{7, 6, 5, 4, 3, 2, 1} << Ids{7, 6, 5, 4, 2, 1};
        QTest::newRow("driver ascending") << 4 << int(Qt::AscendingOrder) << Ids{6, 3, 5, 4, 2, 1} << Ids{6, 3, 7, 5, 4, 2, 1} << Ids{6, 7, 5, 4, 2, 1};
    }
    void sortOrderHolds()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(Ids, initial);
        QFETCH(Ids, afterInsert);
        QFETCH(Ids, afterDelete);
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        QAbstractItemModel *proxy = view(page)->model();
        QAbstractItemModelTester tester(proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto ids = [proxy] {
            Ids result;
            for (int row = 0; row < proxy->rowCount(); ++row) {
                result.append(proxy->index(row, 0).data().toInt());
            }
            return result;
        };
        view(page)->sortByColumn(column, Qt::SortOrder(order));
        QCOMPARE(ids(), initial);
        store->insertResult(1000, QStringLiteral("GP107"), QStringLiteral("nvidia_535"));
        QCOMPARE(ids(), afterInsert);
        QVERIFY(store->deleteById(3));
        QCOMPARE(ids(), afterDelete);
        QVERIFY(proxy->setData(proxy->index(0, 5), QStringLiteral("edited")));
        QCOMPARE(ids(), afterDelete);
    }

    // The chart shows the visible rows in view order, aggregated as the combo box says.
    void chart_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("search");
        QTest::addColumn<Bars>("expected");
        QTest::addColumn<QString>("title");

        QTest::newRow("Average") << int(HistogramWidget::Average) << QString() << Bars{{gp107Nvidia, 4400.0 / 3}, {gp107Nouveau, 800}, {gp107Fan, 1500}}
                                 << QStringLiteral("The average FPS for each GPU and driver");
        QTest::newRow("Median") << int(HistogramWidget::Median) << QString() << Bars{{gp107Nvidia, 1300}, {gp107Nouveau, 800}, {gp107Fan, 1500}}
                                << QStringLiteral("Median FPS value, smoothing out the impact of sudden fluctuations");
        QTest::newRow("Maximum") << int(HistogramWidget::Maximum) << QString() << Bars{{gp107Nvidia, 1900}, {gp107Nouveau, 800}, {gp107Fan, 1500}}
                                 << QStringLiteral("The maximum recorded FPS for each configuration");
        QTest::newRow("All entries") << int(HistogramWidget::AllEntries) << QString()
                                     << Bars{{gp107Nvidia, 1300}, {gp107Nvidia, 1900}, {gp107Nouveau, 800}, {gp107Fan, 1500}, {gp107Nvidia, 1200}}
                                     << QStringLiteral("All individual entries without aggregation");
        QTest::newRow("All entries, search nvidia") << int(HistogramWidget::AllEntries) << QStringLiteral("nvidia")
                                                    << Bars{{gp107Nvidia, 1300}, {gp107Nvidia, 1900}, {gp107Fan, 1500}, {gp107Nvidia, 1200}}
                                                    << QStringLiteral("All individual entries without aggregation");
        QTest::newRow("Average, search i915 (no score)")
            << int(HistogramWidget::Average) << QStringLiteral("i915") << Bars{} << QStringLiteral("The average FPS for each GPU and driver");
        QTest::newRow("Maximum, search matching nothing")
            << int(HistogramWidget::Maximum) << QStringLiteral("radeon") << Bars{} << QStringLiteral("Average FPS by GPU and Driver");
    }
    void chart()
    {
        QFETCH(int, mode);
        QFETCH(QString, search);
        QFETCH(Bars, expected);
        QFETCH(QString, title);
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        auto *chart = child<HistogramWidget>(&page, "histogramWidget");
        QCOMPARE(chart->sortMode(), HistogramWidget::KeepOrder);
        QCOMPARE(chart->gridStep(), 500);
        QCOMPARE(chart->axisTitle(), QStringLiteral("Number of frames per second"));

        // The search does not redraw the chart; showing it does.
        child<QLineEdit>(&page, "lineEditSearch")->setText(search);
        setMode(page, HistogramWidget::AggregationMode(mode));
        child<QCheckBox>(&page, "chBoxChangeMode")->click();
        QCOMPARE(child<QStackedWidget>(&page, "stackedWidget")->currentWidget()->objectName(), QStringLiteral("chartPage"));
        QCOMPARE(chart->bars(), expected);
        QCOMPARE(child<QGroupBox>(&page, "groupBox")->title(), title);

        child<QCheckBox>(&page, "chBoxChangeMode")->click();
        QCOMPARE(child<QStackedWidget>(&page, "stackedWidget")->currentWidget()->objectName(), QStringLiteral("tablePage"));
    }

    // A change in the store while the chart is shown redraws it.
    void chartFollowsTheStore()
    {
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        auto *chart = child<HistogramWidget>(&page, "histogramWidget");
        setMode(page, HistogramWidget::Maximum);
        child<QCheckBox>(&page, "chBoxChangeMode")->click();
        store->insertResult(2500, QStringLiteral("GP107"), QStringLiteral("nouveau"));
        QCOMPARE(chart->bars(), (Bars{{gp107Nouveau, 2500}, {gp107Nvidia, 1900}, {gp107Fan, 1500}}));
        QVERIFY(store->clearAll());
        QCOMPARE(chart->bars(), Bars{});
    }

    void searchColour_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("red");
        QTest::newRow("matching nothing") << QStringLiteral("radeon") << true;
        QTest::newRow("other case") << QStringLiteral("gp107") << false;
        QTest::newRow("hidden id column") << QStringLiteral("6") << false;
        QTest::newRow("empty") << QString() << false;
    }
    void searchColour()
    {
        QFETCH(QString, text);
        QFETCH(bool, red);
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        auto *search = child<QLineEdit>(&page, "lineEditSearch");
        search->setText(QStringLiteral("radeon"));
        search->setText(text); // from a red state, so that the reset is seen too
        QColor expected = search->palette().color(QPalette::WindowText);
        if (red) {
            expected = QColor(255, 0, 0, 200);
        }
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            QCOMPARE(search->palette().color(group, QPalette::Text), expected);
        }
    }

    // Rows picked with the mouse (each click toggles one), then Delete.
    void deleteSelected_data()
    {
        QTest::addColumn<int>("sortColumn");
        QTest::addColumn<Ids>("clicks");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("locked"); // runs the database refuses to delete
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("failures");
        QTest::addColumn<Ids>("remaining");

        const QString three = QStringLiteral("Are you sure you want to delete 3 records?");
        const QString one = QStringLiteral("Are you sure you want to delete this record?");
        const Ids all{1, 2, 3, 4, 5, 6};
        QTest::newRow("three rows, No") << -1 << Ids{0, 1, 2} << int(QMessageBox::No) << QString() << QStringList{three} << 0 << all;
        QTest::newRow("three rows, Yes") << -1 << Ids{0, 2, 4} << int(QMessageBox::Yes) << QString() << QStringList{three} << 0 << Ids{1, 3, 5};
        QTest::newRow("one row, Yes") << -1 << Ids{1} << int(QMessageBox::Yes) << QString() << QStringList{one} << 0 << Ids{1, 2, 3, 4, 6};
        QTest::newRow("row clicked twice") << -1 << Ids{1, 1} << int(QMessageBox::Yes) << QString() << QStringList{} << 0 << all;
        QTest::newRow("sorted by driver, second row") << 4 << Ids{1} << int(QMessageBox::Yes) << QString() << QStringList{one} << 0 << Ids{1, 2, 4, 5, 6};
        QTest::newRow("one of three refused") << -1 << Ids{0, 1, 3} << int(QMessageBox::Yes) << QStringLiteral("OLD.driver = 'nouveau'")
                                              << QStringList{three, QStringLiteral("1 record failed to delete.")} << 1 << Ids{1, 2, 3, 4};
        QTest::newRow("two of three refused") << -1 << Ids{0, 1, 2} << int(QMessageBox::Yes) << QStringLiteral("OLD.driver = 'nvidia_535'")
                                              << QStringList{three, QStringLiteral("2 records failed to delete.")} << 2 << Ids{1, 2, 3, 4, 5};
    }
    void deleteSelected()
    {
        QFETCH(int, sortColumn);
        QFETCH(Ids, clicks);
        QFETCH(int, answer);
        QFETCH(QString, locked);
        QFETCH(QStringList, boxes);
        QFETCH(int, failures);
        QFETCH(Ids, remaining);
        auto store = sixRuns();
        if (!locked.isEmpty()) {
            lockRuns(locked);
        }
        BenchmarkHistoryPage page(store.get(), nullptr);
        QTreeView *tree = view(page);
        QAbstractItemModelTester tester(tree->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        showActive(page);
        if (sortColumn >= 0) {
            tree->sortByColumn(sortColumn, Qt::AscendingOrder);
        }
        for (int row : clicks) {
            clickRow(tree, row);
        }
        QSignalSpy changed(store.get(), &BenchmarkStorage::dataChanged);
        QSignalSpy reread(tree->model(), &QAbstractItemModel::modelReset);
        for (int i = 0; i < failures; ++i) {
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to delete entry with id \\d+: .*locked")));
        }

        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly, QMessageBox::StandardButton(answer));
        QTest::keyClick(tree, Qt::Key_Delete);
        QCOMPARE(answerer.shownTexts(), boxes);
        if (!boxes.isEmpty()) {
            QCOMPARE(answerer.seen.first().title, QStringLiteral("Delete records"));
        }
        QCOMPARE(storedIds(), remaining);
        const int deleted = 6 - remaining.size();
        QCOMPARE(changed.count(), deleted);
        QCOMPARE(reread.count(), deleted > 0 ? 1 : 0); // read once after the batch, not once per record
        QCOMPARE(tree->model()->rowCount(), remaining.size());
    }

    // Right clicks: only over a row, and on a row outside the selection the menu acts on it.
    void contextMenu_data()
    {
        QTest::addColumn<Ids>("selected");
        QTest::addColumn<int>("target"); // proxy row, or -1 for the empty space below the rows
        QTest::addColumn<QStringList>("menu");
        QTest::addColumn<bool>("pick");
        QTest::addColumn<Ids>("remaining");

        QTest::newRow("empty space below the rows") << Ids{0} << -1 << QStringList{} << true << Ids{1, 2, 3, 4, 5, 6};
        QTest::newRow("row outside a selection of two") << Ids{0, 1} << 3 << QStringList{QStringLiteral("Delete record")} << true << Ids{1, 2, 4, 5, 6};
        QTest::newRow("row outside an empty selection") << Ids{} << 5 << QStringList{QStringLiteral("Delete record")} << true << Ids{2, 3, 4, 5, 6};
        QTest::newRow("row inside a selection of three") << Ids{0, 2, 4} << 2 << QStringList{QStringLiteral("Delete 3 records")} << true << Ids{1, 3, 5};
        QTest::newRow("menu closed") << Ids{0, 2, 4} << 2 << QStringList{QStringLiteral("Delete 3 records")} << false << Ids{1, 2, 3, 4, 5, 6};
    }
    void contextMenu()
    {
        QFETCH(Ids, selected);
        QFETCH(int, target);
        QFETCH(QStringList, menu);
        QFETCH(bool, pick);
        QFETCH(Ids, remaining);
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        QTreeView *tree = view(page);
        showActive(page);
        for (int row : selected) {
            clickRow(tree, row);
        }
        const QPoint pos = target >= 0 ? tree->visualRect(tree->model()->index(target, 2)).center() : QPoint(10, tree->viewport()->height() - 5);
        QVERIFY(target >= 0 || !tree->indexAt(pos).isValid());

        MenuAnswerer menuAnswerer(pick && !menu.isEmpty() ? menu.first() : QString());
        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly, QMessageBox::Yes);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(tree->viewport(), &event);
        QCOMPARE(menuAnswerer.seen, menu);
        QCOMPARE(storedIds(), remaining);
    }

    void clearRecords_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("remaining");

        const QString question = QStringLiteral("Are you sure you want to delete all benchmark results?");
        QTest::newRow("No") << int(QMessageBox::No) << false << QStringList{question} << 6;
        QTest::newRow("Yes") << int(QMessageBox::Yes) << false << QStringList{question} << 0;
        QTest::newRow("Yes, refused by the database") << int(QMessageBox::Yes) << true << QStringList{question, QStringLiteral("Error when deleting records")}
                                                      << 6;
    }
    void clearRecords()
    {
        QFETCH(int, answer);
        QFETCH(bool, locked);
        QFETCH(QStringList, boxes);
        QFETCH(int, remaining);
        auto store = sixRuns();
        if (locked) {
            lockRuns(QStringLiteral("1"));
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to clear table benchmark_results: .*locked")));
        }
        BenchmarkHistoryPage page(store.get(), nullptr);
        auto *clear = child<QPushButton>(&page, "btnClearRecords");
        QVERIFY(clear->isEnabled());
        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly, QMessageBox::StandardButton(answer));
        clear->click();
        QCOMPARE(answerer.shownTexts(), boxes);
        QCOMPARE(answerer.seen.first().title, QStringLiteral("Clear all records"));
        QCOMPARE(storedIds().size(), remaining);
        QCOMPARE(view(page)->model()->rowCount(), remaining);
        QCOMPARE(clear->isEnabled(), remaining > 0);
        if (remaining == 0) {
            store->insertResult(1000, QStringLiteral("GP107"), QStringLiteral("nouveau"));
            QVERIFY(clear->isEnabled());
        }
    }

    void editingAComment()
    {
        auto store = sixRuns();
        BenchmarkHistoryPage page(store.get(), nullptr);
        QAbstractItemModel *model = view(page)->model();
        view(page)->sortByColumn(4, Qt::AscendingOrder); // i915, nouveau, nvidia_535...
        QVERIFY(!(model->flags(model->index(1, 4)) & Qt::ItemIsEditable));
        QVERIFY(model->setData(model->index(1, 5), QStringLiteral("cold start")));
        QSqlQuery query(QSqlDatabase::database(m_connection));
        QVERIFY(query.exec(QStringLiteral("SELECT comment FROM benchmark_results WHERE id = 3")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("cold start"));
        QCOMPARE(page.composeLabel(1), QStringLiteral("GP107. nouveau (cold start)"));
    }

    void storeNotOpen()
    {
        QFile blocker(m_home.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to open benchmark database: ")));
        BenchmarkStorage store(blocker.fileName() + QStringLiteral("/benchmark.db"), QStringLiteral("unopenable"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Benchmark database not open: ")));
        BenchmarkHistoryPage page(&store, nullptr);
        auto *warning = child<KMessageWidget>(&page, "warningMessage");
        QVERIFY(warning->isVisibleTo(&page));
        QCOMPARE(warning->text(), QStringLiteral("The performance test data could not be accessed."));
        QCOMPARE(warning->messageType(), KMessageWidget::Warning);
        QVERIFY(!view(page)->model());
        QVERIFY(!child<QPushButton>(&page, "btnClearRecords")->isEnabled());
        child<QCheckBox>(&page, "chBoxChangeMode")->click();
        page.updateChartWithBars();
        page.onDeleteSelectedRecords();
        page.onClearRecords();
        QVERIFY(child<HistogramWidget>(&page, "histogramWidget")->bars().isEmpty());
        QCOMPARE(page.saveSettings().status, SaveStatus::NoChanges);
        QVERIFY(!page.isModified());
    }

    // The page of the advanced settings, on the user's store in the temporary home, at the
    // dialog's own size: the aggregated chart fits, a long series scrolls sideways.
    void inTheDialog()
    {
        QTest::ignoreMessage(QtWarningMsg, "Unknown GPU vendor, tearing prevention may not be available.");
        AdvancedSettingsDialog dialog(QList<Device>(), nullptr);
        auto *page = dialog.findChild<BenchmarkHistoryPage *>(QStringLiteral("BenchmarkHistoryPage"));
        QVERIFY(page);
        QVERIFY(QFile::exists(m_home.filePath(QStringLiteral(".local/share/vela-admin-video-driver/benchmark.db"))));
        auto *clear = child<QPushButton>(page, "btnClearRecords");
        QVERIFY(!clear->isEnabled()); // an empty history
        QVERIFY(!child<KMessageWidget>(page, "warningMessage")->isVisibleTo(page));

        auto *tree = dialog.findChild<QTreeWidget *>(QStringLiteral("categoriesTree"));
        tree->setCurrentItem(tree->topLevelItem(2)->child(0));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.size(), QSize(898, 489));
        child<QCheckBox>(page, "chBoxChangeMode")->click();
        auto *chart = child<HistogramWidget>(page, "histogramWidget");
        QVERIFY(chart->bars().isEmpty());

        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("benchmark_connection"));
            QVERIFY(db.transaction());
            QSqlQuery query(db);
            query.prepare(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver) VALUES (1700000000, ?, 'NVIDIA GeForce GTX 1050 Ti', ?)"));
            for (int i = 0; i < 399; ++i) {
                query.addBindValue(700 + i);
                query.addBindValue(i % 2 ? QStringLiteral("nouveau") : QStringLiteral("nvidia_535.104"));
                QVERIFY(query.exec());
            }
            QVERIFY(db.commit());
        }
        BenchmarkStorage::instance()->insertResult(1100, QStringLiteral("NVIDIA GeForce GTX 1050 Ti"), QStringLiteral("nouveau"));
        QVERIFY(clear->isEnabled());
        auto *area = child<QScrollArea>(page, "scrollArea");
        QCoreApplication::processEvents();
        QCOMPARE(chart->bars().size(), 2);
        QCOMPARE(area->horizontalScrollBar()->maximum(), 0);
        QVERIFY2(chart->height() >= chart->minimumSizeHint().height(), "the value axis and the labels keep their room");
        QVERIFY(chart->visibleRegion().boundingRect().height() >= chart->minimumSizeHint().height());

        setMode(*page, HistogramWidget::AllEntries);
        QCoreApplication::processEvents();
        QCOMPARE(chart->bars().size(), 400);
        QVERIFY(area->horizontalScrollBar()->maximum() > 0);
        QVERIFY(chart->width() >= 400 * HistogramWidget::minimumBarSlotWidth);
        QVERIFY(chart->visibleRegion().boundingRect().height() >= chart->minimumSizeHint().height());
    }

    // 100,000 stored runs, beyond the first batches SQLite hands out: the table, the chart and
    // Delete reach the oldest one.
    void longHistory()
    {
        auto store = emptyStore();
        const int runs = 100000;
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection);
            QVERIFY(db.transaction());
            QSqlQuery query(db);
            query.prepare(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver) VALUES (?, ?, ?, ?)"));
            const QString drivers[] = {QStringLiteral("nvidia_535"), QStringLiteral("nouveau")};
            for (int i = 0; i < runs; ++i) {
                query.addBindValue(1700000000 + i);
                query.addBindValue(1000 + i % 1000);
                query.addBindValue(QStringLiteral("GP107"));
                query.addBindValue(drivers[i % 2]);
                QVERIFY(query.exec());
            }
            QVERIFY(db.commit());
        }
        BenchmarkHistoryPage page(store.get(), nullptr);
        QTreeView *tree = view(page);
        QAbstractItemModel *proxy = tree->model();
        QCOMPARE(proxy->rowCount(), runs);
        QCOMPARE(proxy->index(runs - 1, 0).data().toInt(), 1);

        setMode(page, HistogramWidget::AllEntries);
        child<QCheckBox>(&page, "chBoxChangeMode")->click();
        auto *chart = child<HistogramWidget>(&page, "histogramWidget");
        QCOMPARE(chart->bars().size(), runs);
        QCOMPARE(chart->bars().last(), HistogramBar(gp107Nvidia, 1000));
        // Even runs score 1000, 1002, ... 1998; odd ones 1001 ... 1999, each 100 times over.
        setMode(page, HistogramWidget::Average);
        QCOMPARE(chart->bars(), (Bars{{gp107Nouveau, 1500}, {gp107Nvidia, 1499}}));

        tree->selectionModel()->select(proxy->index(runs - 1, 1), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly, QMessageBox::Yes);
        page.onDeleteSelectedRecords();
        QCOMPARE(answerer.shownTexts(), QStringList{QStringLiteral("Are you sure you want to delete this record?")});
        QCOMPARE(proxy->rowCount(), runs - 1);
        QCOMPARE(proxy->index(runs - 2, 0).data().toInt(), 2);
        QCOMPARE(chart->bars().size(), 2);
    }
};

QTEST_MAIN(HistoryPageTest)
#include "historypagetest.moc"
