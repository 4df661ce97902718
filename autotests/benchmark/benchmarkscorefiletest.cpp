// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "benchmarkscorefile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class BenchmarkScoreFileTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &name) const
    {
        return m_dir.filePath(name);
    }

    static void put(const QString &file, const QByteArray &content)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    static QByteArray contentOf(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private Q_SLOTS:
    void readScore_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("score");
        QTest::newRow("1350") << QByteArray("1350") << 1350;
        QTest::newRow(" 987 with line feed") << QByteArray(" 987\n") << 987;
        QTest::newRow("-5") << QByteArray("-5") << -5;
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("blanks only") << QByteArray(" \n") << -1;
        QTest::newRow("not a number") << QByteArray("fast") << -1;
        QTest::newRow("number with trailing text") << QByteArray("12 fps") << -1;
        QTest::newRow("beyond int") << QByteArray("99999999999") << -1;
    }
    void readScore()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, score);
        const QString file = path(QStringLiteral("read.score"));
        put(file, content);
        QCOMPARE(BenchmarkScoreFile::readScore(file), score);
    }

    void readsMissingOrEmptyPathAsNone()
    {
        QCOMPARE(BenchmarkScoreFile::readScore(QString()), -1);
        QCOMPARE(BenchmarkScoreFile::readScore(path(QStringLiteral("absent.score"))), -1);
    }

    void availablePath_data()
    {
        QTest::addColumn<bool>("current");
        QTest::addColumn<bool>("older");
        QTest::addColumn<QString>("expected");
        QTest::newRow("neither") << false << false << QString();
        QTest::newRow("older only") << false << true << "older";
        QTest::newRow("current only") << true << false << "current";
        QTest::newRow("both") << true << true << "current";
    }
    void availablePath()
    {
        QFETCH(bool, current);
        QFETCH(bool, older);
        QFETCH(QString, expected);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
        QTemporaryDir dir(path(tag + QStringLiteral("-XXXXXX")));
        if (current)
            put(dir.filePath(QStringLiteral("current")), "1");
        if (older)
            put(dir.filePath(QStringLiteral("older")), "1");
        const QString found = BenchmarkScoreFile::availablePath(dir.filePath(QStringLiteral("current")), dir.filePath(QStringLiteral("older")));
        QCOMPARE(found, expected.isEmpty() ? QString() : dir.filePath(expected));
    }

    void writeScore()
    {
        // A fresh home: the folder is made, the older file goes once the new score is written.
        const QString current = path(QStringLiteral("home/.config/vela-admin-video-driver.score"));
        const QString older = path(QStringLiteral("older.score"));
        put(older, "987\n");
        QVERIFY(!BenchmarkScoreFile::writeScore(QString(), current, older));
        QVERIFY(!QFile::exists(current));
        QVERIFY(QFile::exists(older));

        QVERIFY(BenchmarkScoreFile::writeScore(QStringLiteral("1200"), current, older));
        QVERIFY(BenchmarkScoreFile::writeScore(QStringLiteral("1350"), current, older));
        QCOMPARE(contentOf(current), QByteArray("1350"));
        QVERIFY(!QFile::exists(older));

        // The folder's place is taken by a plain file: nothing is written, nothing removed.
        put(older, "987");
        put(path(QStringLiteral("blocked")), "");
        QVERIFY(!BenchmarkScoreFile::writeScore(QStringLiteral("1400"), path(QStringLiteral("blocked/x.score")), older));
        QCOMPARE(contentOf(older), QByteArray("987"));
    }
};

QTEST_GUILESS_MAIN(BenchmarkScoreFileTest)
#include "benchmarkscorefiletest.moc"
