// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "secureboot.h"
#include "busconfig.h"
#include "driverlib_debug.h"
#include "systempaths.h"

#include <KLocalizedString>

#include <QFileInfo>
#include <QProcess>

namespace SecureBoot
{
namespace
{
// Output of a finished run, or a null array when it could not run to its end.
QByteArray run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(TimeLimits::processMs)) {
        return QByteArray();
    }
    if (!process.waitForFinished(TimeLimits::processMs) || process.exitStatus() != QProcess::NormalExit) {
        qCWarning(DRIVERLIB) << program << args << "did not finish";
        process.kill();
        process.waitForFinished(1000);
        return QByteArray();
    }
    QByteArray out = process.readAll();
    if (out.isNull()) {
        out = QByteArray("");
    }
    return out;
}
}

State query(const QString &mokutil, const QString &key)
{
    if (!QFileInfo(mokutil).isExecutable()) {
        return State::NoTool;
    }
    const QByteArray sbState = run(mokutil, {QStringLiteral("--sb-state")});
    if (sbState.isNull()) {
        return State::NoTool;
    }
    if (!sbState.contains("SecureBoot enabled")) {
        return State::Off;
    }
    if (!QFileInfo::exists(key)) {
        return State::KeyNotEnrolled;
    }
    const QByteArray test = run(mokutil, {QStringLiteral("--test-key"), key});
    return test.contains("is already enrolled") ? State::KeyEnrolled : State::KeyNotEnrolled;
}

State query()
{
    return query(SystemPaths::mokutil(), SystemPaths::dkmsSigningKey());
}

QString warningLine()
{
    return i18nd("drivers-module-lib",
                 "Secure Boot is on and the DKMS signing key is not enrolled: a newly built driver module will not load until the key is enrolled.");
}

QString enrolmentSteps(const QString &key)
{
    return i18nd("drivers-module-lib",
                 "Secure Boot is on: enrol the DKMS signing key so that the new driver module loads.\n"
                 "1. In a terminal, as root, run: mokutil --import %1\n"
                 "2. Choose a one-time password and enter it twice.\n"
                 "3. Reboot. In the blue key management screen choose \"Enroll MOK\", \"Continue\", enter the password and reboot again.",
                 key);
}
}
