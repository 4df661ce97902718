// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "benchmarkpage.h"
#include "benchmarkscorefile.h"
#include "benchmarkstorage.h"
#include "busconfig.h"
#include "kcm_debug.h"
#include "nvidiadrivermodel.h"
#include "systempaths.h"
#include "ui_benchmarkpage.h"

#include <KLocalizedString>

#include <QFutureWatcher>
#include <QMessageBox>
#include <QTimer>
#include <QtConcurrent>

BenchmarkPage::BenchmarkPage(const Device &device, QWidget *parent)
    : ISettingsPage(parent)
    , ui(new Ui_BenchmarkPage)
    , m_device(device)
    , m_presenceWatcher(new QFutureWatcher<bool>(this))
    , m_runLimit(new QTimer(this))
    , m_killTimer(new QTimer(this))
{
    ui->setupUi(this);
    ui->runProgressBar->hide();
    ui->runStatusLabel->hide();
    ui->messageGlmarkNotDetected->hide();
    // Usable once glmark2 has answered; asking it can take up to the process time limit.
    ui->runBenchmarkBtn->setEnabled(false);

    m_runLimit->setSingleShot(true);
    m_runLimit->setInterval(TimeLimits::benchmarkRunMs);
    connect(m_runLimit, &QTimer::timeout, this, [this] {
        qCWarning(KCM_VIDEODRIVER, "The benchmark did not finish in time and is ended.");
        endProcess();
    });
    m_killTimer->setSingleShot(true);
    m_killTimer->setInterval(TimeLimits::benchmarkStopMs);
    connect(m_killTimer, &QTimer::timeout, &m_process, &QProcess::kill);

    connect(m_presenceWatcher, &QFutureWatcher<bool>::finished, this, [this] {
        presenceKnown(m_presenceWatcher->result());
    });
    m_presenceWatcher->setFuture(QtConcurrent::run(&BenchmarkPage::glmarkAnswers));
}

BenchmarkPage::~BenchmarkPage()
{
    // Closing the dialog abandons a run: nothing of it may reach this half-destroyed page, so
    // the process is cut off from it before it is ended.
    disconnect(m_presenceWatcher, nullptr, this, nullptr);
    disconnect(&m_process, nullptr, this, nullptr);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(TimeLimits::benchmarkStopMs)) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }
    delete ui;
}

SaveResult BenchmarkPage::saveSettings()
{
    return {SaveStatus::NoChanges, QString()};
}

bool BenchmarkPage::isModified() const
{
    return false;
}

bool BenchmarkPage::checkInstalledGlmark() const
{
    return glmarkAnswers();
}

bool BenchmarkPage::glmarkAnswers()
{
    QProcess probe;
    probe.start(DialogPaths::glmark2(), {QStringLiteral("-h")});
    if (!probe.waitForStarted(TimeLimits::processMs)) {
        return false;
    }
    if (!probe.waitForFinished(TimeLimits::processMs)) {
        probe.kill();
        probe.waitForFinished(1000);
        return false;
    }
    return probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

void BenchmarkPage::presenceKnown(bool present)
{
    if (!present) {
        ui->messageGlmarkNotDetected->show();
        setEnabled(false);
        return;
    }
    const int stored = previousScore();
    if (stored != -1) {
        ui->prevScoreSpBox->setValue(stored);
    }
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, &BenchmarkPage::processFinish);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &BenchmarkPage::readOutput);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A program that does not start never finishes either.
        if (error == QProcess::FailedToStart) {
            m_runLimit->stop();
            showRunning(false);
            QMessageBox::critical(this, QString(), i18n("Benchmarking software encountered an error"), QMessageBox::Ok);
        }
    });
    connect(ui->runBenchmarkBtn, &QPushButton::clicked, this, [this] {
        if (isRunning()) {
            stop();
        } else {
            launch();
        }
    });
    ui->runBenchmarkBtn->setEnabled(true);
}

QString BenchmarkPage::availableConfigFilePath() const
{
    return BenchmarkScoreFile::availablePath();
}

int BenchmarkPage::previousScore() const
{
    return BenchmarkScoreFile::readScore(availableConfigFilePath());
}

bool BenchmarkPage::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void BenchmarkPage::setRunTimeLimit(int ms)
{
    m_runLimit->setInterval(ms);
}

void BenchmarkPage::launch()
{
    if (isRunning()) {
        qCWarning(KCM_VIDEODRIVER, "Benchmark process is already running.");
        return;
    }
    m_output.clear();
    m_stopRequested = false;
    showRunning(true);
    m_runLimit->start();
    m_process.start(DialogPaths::glmark2(), QStringList(), QIODevice::ReadWrite);
}

void BenchmarkPage::stop()
{
    if (!isRunning()) {
        return;
    }
    m_stopRequested = true;
    endProcess();
}

void BenchmarkPage::endProcess()
{
    m_process.terminate();
    m_killTimer->start();
}

void BenchmarkPage::readOutput()
{
    m_output.append(m_process.readAllStandardOutput());
    showProgress();
}

void BenchmarkPage::showRunning(bool running)
{
    ui->runBenchmarkBtn->setText(running ? i18n("Stop the performance test") : i18n("Run a performance test"));
    ui->runProgressBar->setVisible(running);
    ui->runStatusLabel->setVisible(running);
    if (running) {
        showProgress();
    }
}

void BenchmarkPage::showProgress()
{
    const QString scene = m_output.currentScene();
    const int done = m_output.scenesDone();
    if (!scene.isEmpty()) {
        ui->runStatusLabel->setText(i18ncp("@info:status %2 is a glmark2 scene with its options, e.g. [build] use-vbo=false",
                                           "Measuring %2 (%1 scene done)",
                                           "Measuring %2 (%1 scenes done)",
                                           done,
                                           scene));
    } else if (done > 0) {
        ui->runStatusLabel->setText(i18ncp("@info:status", "%1 scene done", "%1 scenes done", done));
    } else {
        ui->runStatusLabel->setText(i18nc("@info:status", "Starting glmark2…"));
    }
}

void BenchmarkPage::processFinish(int exitCode, QProcess::ExitStatus status)
{
    m_runLimit->stop();
    m_killTimer->stop();
    readOutput();
    showRunning(false);
    if (m_stopRequested) {
        // Stopped by the user: there is nothing to report and nothing to keep.
        m_stopRequested = false;
        return;
    }
    if (status != QProcess::NormalExit || exitCode != 0) {
        QMessageBox::critical(this, QString(), i18n("Benchmarking software encountered an error"), QMessageBox::Ok);
        return;
    }
    const QString scoreText = GlmarkOutput::scoreText(m_output.all());
    bool isNumber = false;
    const int score = scoreText.toInt(&isNumber);
    // A score the fields cannot show (more than nine digits) is no score either.
    if (!isNumber || score > ui->currentScoreSpBox->maximum()) {
        QMessageBox::critical(this, QString(), i18n("Couldn't get benchmarking score"), QMessageBox::Ok);
        return;
    }
    updatePreviousScore(scoreText);
    ui->currentScoreSpBox->setValue(score);
    m_hasCurrentScore = true;
    storeRun(score);
}

void BenchmarkPage::updatePreviousScore(const QString &score) const
{
    if (score.isEmpty()) {
        return;
    }
    if (!BenchmarkScoreFile::writeScore(score)) {
        ui->prevScoreSpBox->setValue(ui->prevScoreSpBox->minimum());
        ui->prevScoreSpBox->setSpecialValueText(i18n("No data"));
        return;
    }
    // Until this page has run once, "Previous score" already shows the latest stored score
    // (or nothing on the very first run), which is exactly the run before this one.
    if (m_hasCurrentScore) {
        ui->prevScoreSpBox->setValue(ui->currentScoreSpBox->value());
    }
}

QString BenchmarkPage::driverText(const Device &device, const QString &versionReport)
{
    // An empty record (no active adapter: a virtual machine, a laptop on its software renderer)
    // has no module, and so an empty driver text.
    QString text = device.currentDriver().displayName;
    if (device.videoCardVendorId() == VideoCardVendorId::Nvidia) {
        // nvidia-smi prints one line per adapter; they all run the one driver.
        const QString version = versionReport.section(QLatin1Char('\n'), 0, 0).trimmed();
        if (!version.isEmpty()) {
            text += QLatin1Char('_') + version;
        }
    }
    return text;
}

void BenchmarkPage::storeRun(int score)
{
    BenchmarkStorage *store = BenchmarkStorage::instance();
    const Device device = m_device;
    if (device.videoCardVendorId() != VideoCardVendorId::Nvidia) {
        store->insertResult(score, device.name(), driverText(device, QString()));
        return;
    }
    // nvidia-smi may take seconds to answer: asked off the interface thread, and the run is
    // stored on it afterwards, also when the dialog has been closed in between.
    QtConcurrent::run([store, device, score] {
        const QString driver = driverText(device, NvidiaDriverModel::currentVersion());
        QMetaObject::invokeMethod(
            store,
            [store, device, score, driver] {
                store->insertResult(score, device.name(), driver);
            },
            Qt::QueuedConnection);
    });
}
