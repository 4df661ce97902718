// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "device.h"
#include "glmarkoutput.h"
#include "isettingspage.h"

#include <QProcess>

template<typename T>
class QFutureWatcher;
class QTimer;
class Ui_BenchmarkPage;

// Runs glmark2 on the adapter that renders the desktop, shows its score beside the one of the
// run before, keeps the latest score in the user's score file and records every run in the
// benchmark store, which the history page shows. A run takes minutes: it goes on while the
// window stays usable, shows the scene being measured, and the same button stops it. Nothing
// here is a setting: the page is never modified and saves nothing.
class BenchmarkPage : public ISettingsPage
{
    Q_OBJECT
public:
    BenchmarkPage(const Device &device, QWidget *parent);
    ~BenchmarkPage() override;

    SaveResult saveSettings() override;
    bool isModified() const override;

    // Whether glmark2 is there and answers "-h". Blocks up to the process time limit; the
    // page asks it off the interface thread.
    bool checkInstalledGlmark() const;
    static bool glmarkAnswers();

    // The stored score, or -1.
    int previousScore() const;
    // The score file to read: the current one, else the older one, else empty.
    QString availableConfigFilePath() const;
    // Writes score as the latest one; the field "Previous score" then shows the score that was
    // the latest before it.
    void updatePreviousScore(const QString &score) const;

    bool isRunning() const;
    // The text stored as the driver of a run: the module in use, with the NVIDIA driver version
    // when there is one. versionReport is what nvidia-smi printed (one line per adapter).
    static QString driverText(const Device &device, const QString &versionReport);

    // For tests: a run still going after this long is ended and reported as failed.
    void setRunTimeLimit(int ms);

public Q_SLOTS:
    void launch();
    void stop();
    void processFinish(int exitCode, QProcess::ExitStatus status);

private:
    void presenceKnown(bool present);
    void readOutput();
    void showRunning(bool running);
    void showProgress();
    void endProcess();
    void storeRun(int score);

    Ui_BenchmarkPage *ui;
    QProcess m_process;
    Device m_device;
    GlmarkOutput m_output;
    QFutureWatcher<bool> *m_presenceWatcher;
    QTimer *m_runLimit;
    QTimer *m_killTimer; // kills a run that SIGTERM did not end
    bool m_stopRequested = false;
    bool m_hasCurrentScore = false; // a run of this page has put its score into "Current score"
};
