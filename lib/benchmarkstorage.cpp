// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "benchmarkstorage.h"

#include <KLocalizedString>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace
{
const QString connectionNameDefault = QStringLiteral("benchmark_connection");

// The table as every release has created it; the text is kept byte for byte.
const QString createTableStatement = QStringLiteral(
    "\n            CREATE TABLE benchmark_results (\n"
    "                id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "                date INTEGER NOT NULL,\n"
    "                fps INTEGER NOT NULL,\n"
    "                gpu TEXT NOT NULL,\n"
    "                driver TEXT NOT NULL,\n"
    "                comment TEXT\n"
    "            )\n        ");

enum Column { IdColumn = 0, DateColumn = 1, FpsColumn = 2, GpuColumn = 3, DriverColumn = 4, CommentColumn = 5 };
} // namespace

QString BenchmarkStorage::defaultDatabasePath()
{
    static const QString path = QDir::homePath() + QStringLiteral("/.local/share/vela-admin-video-driver/benchmark.db");
    return path;
}

BenchmarkStorage *BenchmarkStorage::instance()
{
    static BenchmarkStorage store(defaultDatabasePath(), connectionNameDefault);
    return &store;
}

BenchmarkStorage::BenchmarkStorage(const QString &databasePath, const QString &connectionName, QObject *parent)
    : QObject(parent)
{
    QDir().mkpath(QFileInfo(databasePath).absolutePath());
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    m_db.setDatabaseName(databasePath);
    if (!m_db.open()) {
        qCritical("%s", qPrintable(QStringLiteral("Failed to open benchmark database: %1").arg(m_db.lastError().text())));
        return;
    }
    ensureSchema();
}

BenchmarkStorage::~BenchmarkStorage()
{
    if (m_db.isOpen())
        m_db.close();
}

bool BenchmarkStorage::isOpen() const
{
    return m_db.isOpen();
}

void BenchmarkStorage::ensureSchema()
{
    if (!m_db.isOpen())
        return;
    {
        QSqlQuery version(m_db);
        if (version.exec(QStringLiteral("PRAGMA user_version")) && version.next() && version.value(0).toInt() != 0)
            return;
    }
    m_db.transaction();
    QSqlQuery query(m_db);
    if (!query.exec(createTableStatement))
        qCritical("%s", qPrintable(QStringLiteral("Failed to create table with benchmark results: %1").arg(query.lastError().text())));
    if (!query.exec(QStringLiteral("PRAGMA user_version = 1")))
        qWarning("%s", qPrintable(QStringLiteral("Failed to change user_version: %1").arg(query.lastError().text())));
    m_db.commit();
}

void BenchmarkStorage::insertResult(int fps, const QString &gpu, const QString &driver)
{
    if (!m_db.isOpen())
        return;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver) VALUES (?, ?, ?, ?)"));
    query.addBindValue(static_cast<qint64>(QDateTime::currentSecsSinceEpoch()));
    query.addBindValue(fps);
    // A null QString binds as SQL NULL, which the NOT NULL columns refuse: a run on a machine
    // without an active adapter (no name, no driver) would be lost.
    query.addBindValue(gpu.isNull() ? QStringLiteral("") : gpu);
    query.addBindValue(driver.isNull() ? QStringLiteral("") : driver);
    if (query.exec())
        Q_EMIT dataChanged();
    else
        qCritical("%s", qPrintable(QStringLiteral("Failed to insert result: %1").arg(query.lastError().text())));
}

bool BenchmarkStorage::deleteById(int id)
{
    if (!m_db.isOpen())
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM benchmark_results WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec()) {
        qCritical("%s", qPrintable(QStringLiteral("Failed to delete entry with id %1: %2").arg(id).arg(query.lastError().text())));
        return false;
    }
    Q_EMIT dataChanged();
    return true;
}

bool BenchmarkStorage::clearAll()
{
    if (!m_db.isOpen())
        return false;
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("DELETE FROM benchmark_results"))) {
        qCritical("%s", qPrintable(QStringLiteral("Failed to clear table benchmark_results: %1").arg(query.lastError().text())));
        return false;
    }
    // Identifiers start again at 1 once the history is empty.
    if (!query.exec(QStringLiteral("DELETE FROM sqlite_sequence WHERE name='benchmark_results'")))
        qWarning("%s", qPrintable(QStringLiteral("Failed to reset AUTOINCREMENT-counter: %1").arg(query.lastError().text())));
    Q_EMIT dataChanged();
    return true;
}

BenchmarkSqlModel *BenchmarkStorage::createModel(QObject *parent)
{
    if (!m_db.isOpen()) {
        qCritical("%s", qPrintable(QStringLiteral("Benchmark database not open: %1").arg(m_db.lastError().text())));
        return nullptr;
    }
    return new BenchmarkSqlModel(parent, m_db);
}

BenchmarkSqlModel::BenchmarkSqlModel(QObject *parent, const QSqlDatabase &db)
    : QSqlTableModel(parent, db)
    , m_zone(QTimeZone::systemTimeZone())
{
    setTable(QStringLiteral("benchmark_results"));
    setEditStrategy(QSqlTableModel::OnFieldChange);
    setSort(IdColumn, Qt::DescendingOrder);
    select();
    setHeaderData(DateColumn, Qt::Horizontal, i18nd("drivers-module-lib", "Date"), Qt::EditRole);
    setHeaderData(FpsColumn, Qt::Horizontal, i18nd("drivers-module-lib", "Performance Score (FPS)"), Qt::EditRole);
    setHeaderData(GpuColumn, Qt::Horizontal, i18nd("drivers-module-lib", "GPU"), Qt::EditRole);
    setHeaderData(DriverColumn, Qt::Horizontal, i18nd("drivers-module-lib", "Driver"), Qt::EditRole);
    setHeaderData(CommentColumn, Qt::Horizontal, i18nd("drivers-module-lib", "Comment"), Qt::EditRole);
}

bool BenchmarkSqlModel::select()
{
    // SQLite hands rows out in batches of 256; a history page, its chart and "Delete" must see
    // every run, so the whole result is read at once.
    const bool ok = QSqlTableModel::select();
    while (canFetchMore())
        fetchMore();
    return ok;
}

QVariant BenchmarkSqlModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const QVariant value = QSqlTableModel::data(index, role);
    if (index.column() == DateColumn && role == Qt::DisplayRole) {
        bool isNumber = false;
        const qint64 seconds = value.toLongLong(&isNumber);
        if (isNumber)
            return (m_zone.isValid() ? QDateTime::fromSecsSinceEpoch(seconds, m_zone) : QDateTime::fromSecsSinceEpoch(seconds))
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return value;
}

Qt::ItemFlags BenchmarkSqlModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QSqlTableModel::flags(index);
    if (!index.isValid())
        return result;
    result.setFlag(Qt::ItemIsEditable, index.column() == CommentColumn);
    return result;
}
