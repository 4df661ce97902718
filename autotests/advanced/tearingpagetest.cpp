// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The tearing prevention page on handlers of the test's own: the label, the modified state and
// the Save button, what a save applies, and a driver state that takes seconds to read.
#include "advancedsettingsdialog.h"
#include "tearingeffectpage.h"
#include "tearinghandlers.h"
#include "tearingmanager.h"

#include "widgetlookup.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace
{
// A handler whose state and apply outcome the test sets; shared counters survive the handler.
struct HandlerLog {
    std::atomic<int> queries{0};
    QList<bool> applied;
};

class FakeHandler : public TearingHandler
{
public:
    FakeHandler(std::shared_ptr<HandlerLog> log, bool state, bool applyOk, int queryMs = 0, QString reason = QString())
        : m_log(std::move(log))
        , m_state(state)
        , m_applyOk(applyOk)
        , m_queryMs(queryMs)
        , m_reason(std::move(reason))
    {
    }
    bool applyTearing(bool enable) override
    {
        m_log->applied.append(enable);
        return m_applyOk;
    }
    std::function<bool()> stateQuery() const override
    {
        auto log = m_log;
        const bool state = m_state;
        const int ms = m_queryMs;
        return [log, state, ms] {
            ++log->queries;
            QThread::msleep(ms);
            return state;
        };
    }
    QString unavailableReason() const override
    {
        return m_reason;
    }

private:
    std::shared_ptr<HandlerLog> m_log;
    bool m_state;
    bool m_applyOk;
    int m_queryMs;
    QString m_reason;
};

Device activeDevice(VideoCardVendorId vendor)
{
    Device d;
    d.setIdentityForTest(QStringLiteral("V"), QStringLiteral("N"), QStringLiteral("M"), QStringLiteral("PCI:01@0000:00:0"), QStringLiteral("0300"), vendor);
    d.setActive(true);
    return d;
}
}

class TearingPageTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<HandlerLog> m_driver;
    std::shared_ptr<HandlerLog> m_picom;

    TearingManager *manager(bool driverState, bool driverOk, bool picomOk, int queryMs = 0, const QString &reason = QString())
    {
        m_driver = std::make_shared<HandlerLog>();
        m_picom = std::make_shared<HandlerLog>();
        return new TearingManager(std::make_unique<FakeHandler>(m_driver, driverState, driverOk, queryMs, reason),
                                  std::make_unique<FakeHandler>(m_picom, false, picomOk),
                                  nullptr);
    }

private Q_SLOTS:
    void initTestCase()
    {
        static QTemporaryDir home;
        qputenv("HOME", home.path().toLocal8Bit());
    }

    void label_data()
    {
        QTest::addColumn<int>("vendor");
        QTest::addColumn<QString>("text");
        QTest::newRow("NVIDIA") << int(VideoCardVendorId::Nvidia) << QStringLiteral("Enable tearing prevention (NVIDIA)");
        QTest::newRow("Intel") << int(VideoCardVendorId::Intel) << QStringLiteral("Enable tearing prevention (Intel)");
        QTest::newRow("AMD") << int(VideoCardVendorId::Amd) << QStringLiteral("Enable tearing prevention (AMD)");
        QTest::newRow("no active adapter") << 0 << QStringLiteral("Enable tearing prevention unknown");
    }
    void label()
    {
        QFETCH(int, vendor);
        QFETCH(QString, text);
        const QList<Device> devices = vendor ? QList<Device>{activeDevice(static_cast<VideoCardVendorId>(vendor))} : QList<Device>{};
        TearingEffectPage page(devices, manager(false, true, true), nullptr);
        QCOMPARE(child<QLabel>(&page, "driverLTearingabel")->text(), text);
    }

    // Toggling the driver box lights Save, toggling it back puts it out; a save applies both
    // switches, and reads the states once more.
    void modifiedAndSave()
    {
        AdvancedSettingsDialog dialog(nullptr);
        auto *page = new TearingEffectPage({activeDevice(VideoCardVendorId::Intel)}, manager(false, true, true), &dialog);
        Category c;
        c.id = CategoryId::TearingPrevention;
        c.name = QStringLiteral("Tearing");
        c.page = page;
        dialog.addCategory(c);
        QPushButton *save = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save);
        auto *driverBox = child<QCheckBox>(page, "driverTearingCheckBox");
        auto *picomBox = child<QCheckBox>(page, "picomCheckBox");
        QTRY_VERIFY(page->tearingStateKnown());
        QVERIFY(driverBox->isEnabled());

        driverBox->setChecked(true);
        QVERIFY(save->isEnabled());
        driverBox->setChecked(false);
        QVERIFY(!save->isEnabled());

        // Only the compositor box changed: the driver setting is applied all the same.
        picomBox->setChecked(true);
        QVERIFY(page->isModified());
        const SaveResult result = page->saveSettings();
        QCOMPARE(int(result.status), int(SaveStatus::SuccessRebootRequired));
        QCOMPARE(m_driver->applied, QList<bool>{false});
        QCOMPARE(m_picom->applied, QList<bool>{true});
        QTRY_COMPARE(m_driver->queries.load(), 2);
    }

    void bothFail()
    {
        TearingEffectPage page({activeDevice(VideoCardVendorId::Nvidia)}, manager(false, false, false), nullptr);
        QTRY_VERIFY(page.tearingStateKnown());
        const SaveResult result = page.saveSettings();
        QCOMPARE(int(result.status), int(SaveStatus::Error));
        QCOMPARE(result.message, QStringLiteral("Failed to apply tearing settings.\nFailed to apply Picom settings."));
    }

    // A driver row that cannot be used is disabled, says why, and is never applied.
    void unavailableDriverRow()
    {
        TearingEffectPage page({activeDevice(VideoCardVendorId::Intel)}, manager(false, true, true, 0, QStringLiteral("no driver")), nullptr);
        QTRY_VERIFY(page.tearingStateKnown());
        QVERIFY(!child<QCheckBox>(&page, "driverTearingCheckBox")->isEnabled());
        QCOMPARE(child<QCheckBox>(&page, "driverTearingCheckBox")->toolTip(), QStringLiteral("no driver"));
        child<QCheckBox>(&page, "picomCheckBox")->setChecked(true);
        QCOMPARE(int(page.saveSettings().status), int(SaveStatus::SuccessRebootRequired));
        QVERIFY(m_driver->applied.isEmpty());
    }

    // A state that takes seconds to read (nvidia-settings) holds up neither the page nor its
    // modified state, and is asked once however often the dialog asks isModified().
    void slowState()
    {
        QElapsedTimer clock;
        clock.start();
        TearingEffectPage page({activeDevice(VideoCardVendorId::Nvidia)}, manager(true, true, true, 1500), nullptr);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const qint64 shown = clock.elapsed();
        qInfo("page shown after %lld ms", shown);
        QVERIFY(shown < 1000);
        auto *driverBox = child<QCheckBox>(&page, "driverTearingCheckBox");
        QVERIFY(!driverBox->isEnabled());
        QSignalSpy modified(&page, &ISettingsPage::modifiedChanged);
        for (int i = 0; i < 100; ++i) {
            QVERIFY(!page.isModified());
        }
        QTRY_VERIFY_WITH_TIMEOUT(page.tearingStateKnown(), 5000);
        QVERIFY(driverBox->isEnabled());
        QVERIFY(driverBox->isChecked());
        QVERIFY(!page.isModified());
        QCOMPARE(m_driver->queries.load(), 1);
        QVERIFY(!modified.isEmpty());
    }

    // Reset brings the boxes back; the page's signal then reports it unmodified.
    void reset()
    {
        TearingEffectPage page({activeDevice(VideoCardVendorId::Amd)}, manager(false, true, true), nullptr);
        QTRY_VERIFY(page.tearingStateKnown());
        child<QCheckBox>(&page, "driverTearingCheckBox")->setChecked(true);
        child<QCheckBox>(&page, "picomCheckBox")->setChecked(true);
        QSignalSpy modified(&page, &ISettingsPage::modifiedChanged);
        page.reset();
        QVERIFY(!page.isModified());
        QVERIFY(!modified.isEmpty());
        QCOMPARE(modified.last().first().toBool(), false);
    }
};

QTEST_MAIN(TearingPageTest)
#include "tearingpagetest.moc"
