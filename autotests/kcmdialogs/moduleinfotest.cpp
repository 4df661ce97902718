// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "moduleinfo.h"
#include "dialoganswerer.h"

#include <QFile>
#include <QGroupBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

// Runs the real /usr/sbin/modinfo on object files that carry a .modinfo section, built with
// the C compiler for this test, as kernel module files do.
class TestModuleInfo : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void version_data();
    void version();
    void showsEveryRecordSimplified();
    void refusesWhatModinfoCannotRead_data();
    void refusesWhatModinfoCannotRead();
    void sizeFollowsParent_data();
    void sizeFollowsParent();

private:
    QString module(const char *name) const
    {
        return QStringLiteral(TEST_MODULE_DIR "/") + QLatin1String(name);
    }
    QTemporaryDir m_dir;
    QString m_textFile;
};

void TestModuleInfo::initTestCase()
{
    QVERIFY(QFile::exists(module("testmod.ko")));
    QVERIFY(m_dir.isValid());
    m_textFile = m_dir.filePath(QStringLiteral("notamodule.ko"));
    QFile file(m_textFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("version=9.9.9\nname=fake\n");
}

void TestModuleInfo::version_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("module with a version") << module("testmod.ko") << QStringLiteral("1.2.3");
    // Its "srcversion:" line must not pass for a version.
    QTest::newRow("module without a version") << module("testmod_noversion.ko") << QStringLiteral("unknown");
    QTest::newRow("missing file") << module("nosuchmodule.ko") << QStringLiteral("unknown");
    QTest::newRow("no path (module file not found)") << QString() << QStringLiteral("unknown");
    QTest::newRow("text file, not an ELF object") << m_textFile << QStringLiteral("unknown");
}

void TestModuleInfo::version()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(ModuleInfo::version(path), expected);
}

void TestModuleInfo::showsEveryRecordSimplified()
{
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    ModuleInfo dialog;
    const QString path = module("testmod.ko");
    QVERIFY(dialog.updateInfo(path, QStringLiteral("Test module")));
    QVERIFY(answerer.seen.isEmpty());

    QCOMPARE(dialog.findChild<QGroupBox *>(QStringLiteral("infoBox"))->title(), QStringLiteral("Test module"));
    auto *edit = dialog.findChild<QTextEdit *>(QStringLiteral("infoTextEdit"));
    QVERIFY(edit);
    QVERIFY(edit->isReadOnly());
    const QStringList expected{
        QStringLiteral("filename: ") + path,
        QStringLiteral("version: 1.2.3"),
        QStringLiteral("license: GPL"),
        QStringLiteral("description: Test module for the dialogs"), // runs of blanks and a tab
        QStringLiteral("srcversion: ABCDEF0123456789"),
        QStringLiteral("name: testmod"),
    };
    QCOMPARE(edit->toPlainText().split(QLatin1Char('\n')), expected);
    QCOMPARE(edit->document()->blockCount(), expected.size());
    QCOMPARE(edit->textCursor().position(), 0);
}

void TestModuleInfo::refusesWhatModinfoCannotRead_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << module("nosuchmodule.ko");
    QTest::newRow("no path") << QString();
    QTest::newRow("not an ELF object") << m_textFile;
}

void TestModuleInfo::refusesWhatModinfoCannotRead()
{
    QFETCH(QString, path);
    QWidget parent;
    parent.resize(640, 480);
    DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
    ModuleInfo dialog(&parent);
    dialog.show();
    QVERIFY(!dialog.updateInfo(path, QStringLiteral("testmod")));
    QCOMPARE(answerer.shownTexts(), QStringList{QStringLiteral("Couldn't get module info for module:\n") + path});
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.findChild<QGroupBox *>(QStringLiteral("infoBox"))->title().isEmpty());
}

void TestModuleInfo::sizeFollowsParent_data()
{
    QTest::addColumn<QSize>("parentSize");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("1000x700") << QSize(1000, 700) << QSize(833, 583);
    QTest::newRow("exact division") << QSize(1200, 960) << QSize(1000, 800);
    QTest::newRow("fractions cut, not rounded") << QSize(1003, 705) << QSize(835, 587);
}

void TestModuleInfo::sizeFollowsParent()
{
    QFETCH(QSize, parentSize);
    QFETCH(QSize, expected);
    QWidget parent;
    parent.resize(parentSize);
    ModuleInfo dialog(&parent);
    QCOMPARE(dialog.size(), expected);
}

QTEST_MAIN(TestModuleInfo)
#include "moduleinfotest.moc"
