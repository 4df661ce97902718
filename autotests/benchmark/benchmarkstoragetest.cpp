// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "benchmarkstorage.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class BenchmarkStorageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    int m_connections = 0;

    std::unique_ptr<BenchmarkStorage> openStore(const QString &path)
    {
        return std::make_unique<BenchmarkStorage>(path, QStringLiteral("test_%1").arg(++m_connections));
    }

    // Reads one value straight from the file, beside the store's connection.
    static QVariant scalar(const QString &path, const QString &sql)
    {
        QVariant result;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
            db.setDatabaseName(path);
            if (db.open()) {
                QSqlQuery query(db);
                if (query.exec(sql) && query.next())
                    result = query.value(0);
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
        return result;
    }

    QString freshPath(const QString &name) const
    {
        return m_home.filePath(name + QStringLiteral("/nested/benchmark.db"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral(".local/share"))));
    }

    void instanceLivesInTheHome()
    {
        BenchmarkStorage *store = BenchmarkStorage::instance();
        QCOMPARE(BenchmarkStorage::instance(), store);
        const QString path = m_home.filePath(QStringLiteral(".local/share/vela-admin-video-driver/benchmark.db"));
        QVERIFY(QFile::exists(path));
        QVERIFY(store->isOpen());
        store->insertResult(1500, QStringLiteral("GP107"), QStringLiteral("nvidia"));
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM benchmark_results")).toInt(), 1);
    }

    void schemaOnFreshAndExistingFiles()
    {
        const QString path = freshPath(QStringLiteral("fresh"));
        {
            auto store = openStore(path);
            QVERIFY(store->isOpen());
            store->insertResult(1200, QStringLiteral("GP107"), QStringLiteral("nvidia"));
        }
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), 1);
        QCOMPARE(scalar(path, QStringLiteral("SELECT sql FROM sqlite_master WHERE name='benchmark_results'")).toString(),
                 QStringLiteral("CREATE TABLE benchmark_results (\n                id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                                "                date INTEGER NOT NULL,\n                fps INTEGER NOT NULL,\n"
                                "                gpu TEXT NOT NULL,\n                driver TEXT NOT NULL,\n"
                                "                comment TEXT\n            )"));
        // A second start finds version 1, creates nothing and keeps the runs.
        {
            auto store = openStore(path);
            std::unique_ptr<BenchmarkSqlModel> model(store->createModel(nullptr));
            QCOMPARE(model->rowCount(), 1);
        }

        // A file that holds the table but was never versioned: the creation fails, is logged,
        // the version is set and the store works with the table as it is.
        const QString unversioned = freshPath(QStringLiteral("unversioned"));
        {
            QDir().mkpath(QFileInfo(unversioned).absolutePath());
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
            db.setDatabaseName(unversioned);
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(
                query.exec(QStringLiteral("CREATE TABLE benchmark_results (id INTEGER PRIMARY KEY AUTOINCREMENT, date INTEGER NOT NULL,"
                                          " fps INTEGER NOT NULL, gpu TEXT NOT NULL, driver TEXT NOT NULL, comment TEXT)")));
            QVERIFY(query.exec(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver) VALUES (1, 900, 'RV710', 'radeon')")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to create table with benchmark results: .*already exists")));
        auto store = openStore(unversioned);
        QCOMPARE(scalar(unversioned, QStringLiteral("PRAGMA user_version")).toInt(), 1);
        store->insertResult(950, QStringLiteral("RV710"), QStringLiteral("radeon"));
        std::unique_ptr<BenchmarkSqlModel> model(store->createModel(nullptr));
        QCOMPARE(model->rowCount(), 2);
    }

    void insertDeleteClear()
    {
        auto store = openStore(freshPath(QStringLiteral("changes")));
        QSignalSpy changed(store.get(), &BenchmarkStorage::dataChanged);
        std::unique_ptr<BenchmarkSqlModel> model(store->createModel(nullptr));
        QAbstractItemModelTester tester(model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);

        const qint64 before = QDateTime::currentSecsSinceEpoch();
        for (int fps : {1100, 1200, 1300})
            store->insertResult(fps, QStringLiteral("GP107"), QStringLiteral("nvidia"));
        QCOMPARE(changed.count(), 3);
        model->select();
        QCOMPARE(model->rowCount(), 3);
        // Newest first; dated now; the comment stays null.
        QCOMPARE(model->index(0, 0).data(Qt::EditRole).toInt(), 3);
        QCOMPARE(model->index(0, 2).data(Qt::EditRole).toInt(), 1300);
        const qint64 dated = model->index(0, 1).data(Qt::EditRole).toLongLong();
        QVERIFY(dated >= before && dated <= QDateTime::currentSecsSinceEpoch());
        QVERIFY(model->index(0, 5).data(Qt::EditRole).isNull());

        // a run without an adapter: no name, no driver text, still stored
        store->insertResult(900, QString(), QString());
        QCOMPARE(changed.count(), 4);
        model->select();
        QCOMPARE(model->rowCount(), 4);
        QCOMPARE(model->index(0, 3).data(Qt::EditRole).toString(), QString());
        QVERIFY(store->deleteById(4));

        QVERIFY(store->deleteById(2));
        QVERIFY(store->deleteById(42)); // an id that does not exist is already gone
        QCOMPARE(changed.count(), 7);
        model->select();
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->index(1, 0).data(Qt::EditRole).toInt(), 1);

        QVERIFY(store->clearAll());
        QCOMPARE(changed.count(), 8);
        store->insertResult(1400, QStringLiteral("GP107"), QStringLiteral("nouveau"));
        model->select();
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(model->index(0, 0).data(Qt::EditRole).toInt(), 1); // identifiers restart after a clear
    }

    void modelHeadersAndEditing_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("header");
        QTest::addColumn<bool>("editable");
        QTest::newRow("id") << 0 << "id" << false;
        QTest::newRow("date") << 1 << "Date" << false;
        QTest::newRow("fps") << 2 << "Performance Score (FPS)" << false;
        QTest::newRow("gpu") << 3 << "GPU" << false;
        QTest::newRow("driver") << 4 << "Driver" << false;
        QTest::newRow("comment") << 5 << "Comment" << true;
    }
    void modelHeadersAndEditing()
    {
        QFETCH(int, column);
        QFETCH(QString, header);
        QFETCH(bool, editable);
        const QString path = freshPath(QStringLiteral("edit%1").arg(column));
        auto store = openStore(path);
        store->insertResult(1000, QStringLiteral("GP107"), QStringLiteral("nvidia"));
        std::unique_ptr<BenchmarkSqlModel> model(store->createModel(nullptr));
        QCOMPARE(model->editStrategy(), QSqlTableModel::OnFieldChange);
        QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), header);
        const QModelIndex cell = model->index(0, column);
        QCOMPARE(model->flags(cell).testFlag(Qt::ItemIsEditable), editable);
        if (editable) {
            QVERIFY(model->setData(cell, QStringLiteral("fan at max")));
            // Stored at once, without a submit.
            QCOMPARE(scalar(path, QStringLiteral("SELECT comment FROM benchmark_results WHERE id = 1")).toString(), QStringLiteral("fan at max"));
        }
        QCOMPARE(model->flags(QModelIndex()), model->QSqlTableModel::flags(QModelIndex()));
        QVERIFY(!model->data(QModelIndex()).isValid());
    }

    void dateDisplay_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("local 2024-03-05 14:07:09") << QVariant(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::LocalTime).toSecsSinceEpoch())
                                                   << "2024-03-05 14:07:09";
        QTest::newRow("epoch start") << QVariant(QDateTime(QDate(1970, 1, 1), QTime(0, 0, 1), Qt::UTC).toSecsSinceEpoch())
                                     << QDateTime::fromSecsSinceEpoch(1).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QTest::newRow("not a number") << QVariant(QStringLiteral("yesterday")) << "yesterday";
    }
    void dateDisplay()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        const QString path = freshPath(QStringLiteral("date-") + QString::fromLatin1(QTest::currentDataTag()).section(QLatin1Char(' '), 0, 0));
        auto store = openStore(path);
        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("test_%1").arg(m_connections));
            QSqlQuery query(db);
            query.prepare(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver) VALUES (?, 1, 'g', 'd')"));
            query.addBindValue(stored);
            QVERIFY(query.exec());
        }
        std::unique_ptr<BenchmarkSqlModel> model(store->createModel(nullptr));
        QCOMPARE(model->index(0, 1).data().toString(), shown);
    }

    void unopenableDatabase()
    {
        // The data folder's place is taken by a plain file: nothing can be created below it.
        QFile blocker(m_home.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to open benchmark database: ")));
        auto store = openStore(blocker.fileName() + QStringLiteral("/benchmark.db"));
        QSignalSpy changed(store.get(), &BenchmarkStorage::dataChanged);
        QVERIFY(!store->isOpen());
        store->insertResult(1, QStringLiteral("g"), QStringLiteral("d"));
        QVERIFY(!store->deleteById(1));
        QVERIFY(!store->clearAll());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Benchmark database not open: ")));
        QVERIFY(!store->createModel(nullptr));
        QCOMPARE(changed.count(), 0);
    }

    void longHistoryShowsEveryRow()
    {
        const QString path = freshPath(QStringLiteral("long"));
        auto store = openStore(path);
        const int rows = 3000;
        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("test_%1").arg(m_connections));
            QVERIFY(db.transaction());
            QSqlQuery query(db);
            query.prepare(QStringLiteral("INSERT INTO benchmark_results (date, fps, gpu, driver) VALUES (?, ?, 'GP107', 'nvidia')"));
            for (int i = 0; i < rows; ++i) {
                query.addBindValue(1700000000 + i);
                query.addBindValue(1000 + i);
                QVERIFY(query.exec());
            }
            QVERIFY(db.commit());
        }
        std::unique_ptr<BenchmarkSqlModel> model(store->createModel(nullptr));
        QCOMPARE(model->rowCount(), rows);
        QVERIFY(!model->canFetchMore());
        QCOMPARE(model->index(rows - 1, 0).data(Qt::EditRole).toInt(), 1); // the oldest run is reached
        // Re-selecting after a change, and an edit (which re-selects inside the model), still read all.
        store->insertResult(5000, QStringLiteral("GP107"), QStringLiteral("nvidia"));
        QVERIFY(model->select());
        QCOMPARE(model->rowCount(), rows + 1);
        QVERIFY(model->setData(model->index(0, 5), QStringLiteral("newest")));
        QCOMPARE(model->rowCount(), rows + 1);
    }
};

QTEST_GUILESS_MAIN(BenchmarkStorageTest)
#include "benchmarkstoragetest.moc"
