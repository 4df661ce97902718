// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The reader of assignment-only shell files that the grub acceptance fuzzer trusts, against
// dash itself: on every file it takes, sourcing the file in an empty environment must give
// each variable the value the reader gives it.
#include "shassignments.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class ShAssignmentsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void read_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("plain");
        QTest::newRow("debian defaults") << QByteArray(
            "# comment\n\nGRUB_DEFAULT=0\nGRUB_TIMEOUT=5\nGRUB_CMDLINE_LINUX_DEFAULT=\"quiet\"\nGRUB_CMDLINE_LINUX=\"\"\n#GRUB_GFXMODE=640x480\n")
                                         << true;
        QTest::newRow("two on a line, ';' and blanks") << QByteArray("  A=1 B='x y';C=\"a'b\"\t# c\n") << true;
        QTest::newRow("multi-line single quotes") << QByteArray("X='\nGRUB_CMDLINE_LINUX_DEFAULT=\"inside\"\n'\n") << true;
        QTest::newRow("escapes in double quotes") << QByteArray("A=\"\\$x \\\" \\\\ \\a\"\n") << true;
        QTest::newRow("backslash-newline joins a name") << QByteArray("GRUB_\\\nX=1 Y=a\\\nb\n") << true;
        QTest::newRow("unquoted backslash") << QByteArray("A=a\\ b\\#c\n") << true;
        QTest::newRow("'#' inside a word") << QByteArray("A=x#y\n") << true;
        QTest::newRow("value with '='") << QByteArray("A=b=c\n") << true;
        QTest::newRow("command") << QByteArray("A=1 true\n") << false;
        QTest::newRow("command substitution") << QByteArray("A=`true`\n") << false;
        QTest::newRow("expansion in quotes") << QByteArray("A=\"$HOME\"\n") << false;
        QTest::newRow("quoted name") << QByteArray("\"A\"=1\n") << false;
        QTest::newRow("lone ';'") << QByteArray(";\n") << false;
        QTest::newRow("open quote") << QByteArray("A=\"x\n") << false;
        QTest::newRow("redirection") << QByteArray("A=1>x\n") << false;
        QTest::newRow("tilde") << QByteArray("A=~\n") << false;
        QTest::newRow("tilde after ':'") << QByteArray("A=x:~\n") << false;
        QTest::newRow("NUL byte") << QByteArray("A=1\0B=2\n", 8) << false;
    }

    void read()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, plain);
        QList<ShAssignments::Assignment> assignments;
        QCOMPARE(ShAssignments::read(text, &assignments), plain);
        if (!plain) {
            return;
        }
        QVERIFY(!assignments.isEmpty());
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(QStringLiteral("grub")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QByteArray script = ". ./grub && printf '%s\\0'";
        QList<QByteArray> names;
        QHash<QByteArray, QByteArray> last;
        for (const auto &assignment : assignments) {
            if (!last.contains(assignment.first)) {
                names << assignment.first;
                script += " \"$" + assignment.first + '"';
            }
            last.insert(assignment.first, assignment.second);
        }
        QProcess sh;
        sh.setWorkingDirectory(dir.path());
        sh.start(QStringLiteral("/usr/bin/env"), {QStringLiteral("-i"), QStringLiteral("/bin/sh"), QStringLiteral("-c"), QString::fromLatin1(script)});
        QVERIFY(sh.waitForFinished(10000));
        QCOMPARE(sh.exitCode(), 0);
        const QList<QByteArray> values = sh.readAllStandardOutput().split('\0');
        QCOMPARE(values.size(), names.size() + 1);
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(values.at(i), last.value(names.at(i)));
        }
    }
};

QTEST_GUILESS_MAIN(ShAssignmentsTest)
#include "shassignmentstest.moc"
