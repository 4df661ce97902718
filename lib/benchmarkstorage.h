// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QSqlTableModel>
#include <QTimeZone>

class BenchmarkSqlModel;

// The per-user store of benchmark runs: one SQLite file under the user's data folder, one
// connection per process. Every successful change through the store emits dataChanged(), on
// which the views re-select their models.
class BenchmarkStorage : public QObject
{
    Q_OBJECT
public:
    // The single store of the process, over ~/.local/share/vela-admin-video-driver/benchmark.db.
    static BenchmarkStorage *instance();

    // A store over any database file under its own connection name; instance() uses the
    // user's file and the process's one connection. Tests build their own stores with this.
    BenchmarkStorage(const QString &databasePath, const QString &connectionName, QObject *parent = nullptr);
    ~BenchmarkStorage() override;

    static QString defaultDatabasePath();

    bool isOpen() const;
    void insertResult(int fps, const QString &gpu, const QString &driver);
    bool deleteById(int id);
    bool clearAll();
    // A new model over the results owned by parent, or null when the database is not open.
    BenchmarkSqlModel *createModel(QObject *parent);

Q_SIGNALS:
    void dataChanged();

private:
    void ensureSchema();

    QSqlDatabase m_db;
};

// The editable table of stored runs, newest first. Only the comment can be edited; an edit is
// written at once. Every select reads the whole table, not only the first batch SQLite hands
// out, so views, charts and deletions see every stored run.
class BenchmarkSqlModel : public QSqlTableModel
{
    Q_OBJECT
public:
    BenchmarkSqlModel(QObject *parent, const QSqlDatabase &db);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

public Q_SLOTS:
    bool select() override;

private:
    // Dates are shown in the system's zone, read once: converting through the C library's local
    // time looks at /etc/localtime again for every cell, which made the first search of a long
    // history take most of a second.
    QTimeZone m_zone;
};
