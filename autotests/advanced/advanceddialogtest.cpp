// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The advanced settings dialog's contract with its pages, on fake pages: the category tree,
// the Save button, reset, and what a save shows.
#include "advancedsettingsdialog.h"
#include "isettingspage.h"

#include "dialoganswerer.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace
{
class FakePage : public ISettingsPage
{
public:
    FakePage(SaveResult result, QWidget *parent)
        : ISettingsPage(parent)
        , m_result(std::move(result))
    {
    }

    SaveResult saveSettings() override
    {
        ++saves;
        return m_result;
    }
    bool isModified() const override
    {
        return modified;
    }
    void reset() override
    {
        ++resets;
        setModified(false);
    }
    void setModified(bool value)
    {
        modified = value;
        Q_EMIT modifiedChanged(value);
    }

    bool modified = false;
    int saves = 0;
    int resets = 0;

private:
    SaveResult m_result;
};

Category category(CategoryId id, const QString &name, ISettingsPage *page)
{
    Category c;
    c.id = id;
    c.name = name;
    c.description = name + QStringLiteral(" tip");
    c.page = page;
    return c;
}

QPushButton *saveButton(QDialog &dialog)
{
    return dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Save);
}

struct PageSpec {
    bool modified;
    SaveStatus status;
    QString message;
};
}
Q_DECLARE_METATYPE(QList<PageSpec>)

class AdvancedDialogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parentCategory_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("parent");
        QTest::newRow("0x0301") << 0x0301 << 0x0300;
        QTest::newRow("0x0300") << 0x0300 << 0;
        QTest::newRow("0x0000") << 0 << 0;
        QTest::newRow("0x02ff") << 0x02ff << 0x0200;
    }
    void parentCategory()
    {
        QFETCH(int, id);
        QFETCH(int, parent);
        AdvancedSettingsDialog dialog(nullptr);
        QCOMPARE(int(dialog.getParentCategory(static_cast<CategoryId>(id))), parent);
    }

    // A sub-category goes under its parent, which opens; a second registration of an id
    // changes nothing; choosing an item shows its page.
    void treeAndPages()
    {
        AdvancedSettingsDialog dialog(nullptr);
        auto *first = new FakePage({}, &dialog);
        auto *child = new FakePage({}, &dialog);
        dialog.addCategory(category(CategoryId::Benchmark, QStringLiteral("Bench"), first));
        dialog.addCategory(category(CategoryId::BenchmarkHistory, QStringLiteral("History"), child));
        QTest::ignoreMessage(QtWarningMsg, "The category already exists: \"Again\"");
        dialog.addCategory(category(CategoryId::Benchmark, QStringLiteral("Again"), new FakePage({}, &dialog)));

        auto *tree = dialog.findChild<QTreeWidget *>(QStringLiteral("categoriesTree"));
        auto *stack = dialog.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        QCOMPARE(tree->topLevelItemCount(), 1);
        QTreeWidgetItem *top = tree->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("Bench"));
        QCOMPARE(top->toolTip(0), QStringLiteral("Bench tip"));
        QCOMPARE(top->childCount(), 1);
        QVERIFY(top->isExpanded());
        QCOMPARE(stack->count(), 2);
        QCOMPARE(stack->currentWidget(), first);

        tree->setCurrentItem(top->child(0));
        QCOMPARE(stack->currentWidget(), child);

        // An item the table does not know leaves the page as it is.
        auto *stray = new QTreeWidgetItem(tree, QStringList{QStringLiteral("stray")});
        stray->setData(0, Qt::UserRole, QVariant::fromValue(CategoryId::TearingPrevention));
        QTest::ignoreMessage(QtWarningMsg, "No matching page found for category 256");
        tree->setCurrentItem(stray);
        QCOMPARE(stack->currentWidget(), child);
    }

    // Save lights up exactly while some page is modified; Reset resets every page, whose
    // signals then put Save out.
    void saveButtonAndReset()
    {
        AdvancedSettingsDialog dialog(nullptr);
        auto *a = new FakePage({}, &dialog);
        auto *b = new FakePage({}, &dialog);
        dialog.addCategory(category(CategoryId::TearingPrevention, QStringLiteral("A"), a));
        dialog.addCategory(category(CategoryId::IntelAcceleration, QStringLiteral("B"), b));
        QVERIFY(!saveButton(dialog)->isEnabled());
        a->setModified(true);
        QVERIFY(saveButton(dialog)->isEnabled());
        b->setModified(true);
        a->setModified(false);
        QVERIFY(saveButton(dialog)->isEnabled());
        dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Reset)->click();
        QCOMPARE(a->resets, 1);
        QCOMPARE(b->resets, 1);
        QVERIFY(!saveButton(dialog)->isEnabled());
    }

    void save_data()
    {
        QTest::addColumn<QList<PageSpec>>("pages");
        QTest::addColumn<QString>("boxClass"); // empty: no box at all
        QTest::addColumn<QStringList>("boxLines"); // compared without order
        QTest::addColumn<QList<int>>("saves");

        const QString reboot = QStringLiteral("The settings have been successfully saved. To apply, please perform a reboot.");
        QTest::newRow("modified page answering NoChanges")
            << QList<PageSpec>{{true, SaveStatus::NoChanges, QString()}} << QString() << QStringList() << QList<int>{1};
        QTest::newRow("unmodified page") << QList<PageSpec>{{false, SaveStatus::Success, QString()}} << QString() << QStringList() << QList<int>{0};
        QTest::newRow("success without reboot") << QList<PageSpec>{{true, SaveStatus::Success, QString()}} << QStringLiteral("information")
                                                << QStringList{QStringLiteral("Settings saved successfully.")} << QList<int>{1};
        QTest::newRow("reboot and notes") << QList<PageSpec>{{true, SaveStatus::SuccessRebootRequired, QStringLiteral("note A")},
                                                             {true, SaveStatus::Success, QStringLiteral("note B")}}
                                          << QStringLiteral("information") << QStringList{reboot, QStringLiteral("note A"), QStringLiteral("note B")}
                                          << QList<int>{1, 1};
        QTest::newRow("two errors") << QList<PageSpec>{{true, SaveStatus::Error, QStringLiteral("bad A")}, {true, SaveStatus::Error, QStringLiteral("bad B")}}
                                    << QStringLiteral("critical") << QStringList{QStringLiteral("Page 0: bad A"), QStringLiteral("Page 1: bad B")}
                                    << QList<int>{1, 1};
        QTest::newRow("error beside success") << QList<PageSpec>{{true, SaveStatus::Error, QStringLiteral("bad A")},
                                                                 {true, SaveStatus::SuccessRebootRequired, QString()}}
                                              << QStringLiteral("critical") << QStringList{QStringLiteral("Page 0: bad A")} << QList<int>{1, 1};
    }
    void save()
    {
        QFETCH(QList<PageSpec>, pages);
        QFETCH(QString, boxClass);
        QFETCH(QStringList, boxLines);
        QFETCH(QList<int>, saves);

        AdvancedSettingsDialog dialog(nullptr);
        const CategoryId ids[] = {CategoryId::TearingPrevention, CategoryId::IntelAcceleration};
        QList<FakePage *> fakes;
        for (int i = 0; i < pages.size(); ++i) {
            auto *page = new FakePage({pages.at(i).status, pages.at(i).message}, &dialog);
            page->modified = pages.at(i).modified;
            dialog.addCategory(category(ids[i], QStringLiteral("Page %1").arg(i), page));
            fakes.append(page);
        }
        dialog.updateSaveButtonState();

        DialogAnswerer answerer(DialogAnswerer::MessageBoxesOnly);
        QTimer::singleShot(0, &dialog, [&] {
            QVERIFY(dialog.isVisible());
            if (saveButton(dialog)->isEnabled()) {
                saveButton(dialog)->click();
            } else {
                dialog.saveSettings();
            }
        });
        // Save closes the dialog first; the boxes come up over it afterwards.
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QTRY_VERIFY(boxClass.isEmpty() || !answerer.seen.isEmpty());
        QTest::qWait(50);

        for (int i = 0; i < fakes.size(); ++i) {
            QCOMPARE(fakes.at(i)->saves, saves.at(i));
        }
        if (boxClass.isEmpty()) {
            QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.describe()));
            return;
        }
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen.first().parent.data(), &dialog);
        QStringList lines = answerer.seen.first().text.split(QLatin1Char('\n'));
        lines.sort();
        boxLines.sort();
        QCOMPARE(lines, boxLines);
        // The box's icon tells a failure from a success.
        const bool critical = boxClass == QLatin1String("critical");
        QCOMPARE(answerer.seen.first().text.contains(QLatin1String("successfully")), !critical);
    }

    // The dialog the main window opens: its four categories, the history under the benchmark,
    // on a machine without any adapter.
    void standardCategories()
    {
        QTemporaryDir home;
        qputenv("HOME", home.path().toLocal8Bit());
        QTest::ignoreMessage(QtWarningMsg, "Unknown GPU vendor, tearing prevention may not be available.");
        AdvancedSettingsDialog dialog(QList<Device>(), nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Advanced settings"));
        auto *tree = dialog.findChild<QTreeWidget *>(QStringLiteral("categoriesTree"));
        QStringList top;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            top.append(tree->topLevelItem(i)->text(0));
        }
        QCOMPARE(top,
                 (QStringList{QStringLiteral("Tearing prevention"),
                              QStringLiteral("Hardware video acceleration (Intel)"),
                              QStringLiteral("GPU performance benchmark")}));
        QCOMPARE(tree->topLevelItem(2)->childCount(), 1);
        QCOMPARE(tree->topLevelItem(2)->child(0)->text(0), QStringLiteral("Benchmark history"));
        QCOMPARE(dialog.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->count(), 4);
        QVERIFY(!saveButton(dialog)->isEnabled());
    }
};

QTEST_MAIN(AdvancedDialogTest)
#include "advanceddialogtest.moc"
