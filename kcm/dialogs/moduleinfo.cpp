// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "moduleinfo.h"
#include "busconfig.h"
#include "kcmdialogs_debug.h"
#include "systempaths.h"
#include "ui_moduleinfo.h"

#include <KLocalizedString>
#include <KMessageBox>

#include <QProcess>
#include <QRegularExpression>
#include <QTextCursor>

namespace
{
struct ModinfoOutput {
    bool ok = false;
    QString text; // standard output up to its first NUL byte
};

ModinfoOutput runModinfo(const QString &path)
{
    ModinfoOutput result;
    QProcess process;
    process.start(DialogPaths::modinfo(), {path});
    if (!process.waitForFinished(TimeLimits::processMs)) {
        qCWarning(KCMDIALOGS) << DialogPaths::modinfo() << "did not finish for" << path << process.errorString();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(1000);
        }
        return result;
    }
    QByteArray out = process.readAllStandardOutput();
    const int nul = out.indexOf('\0');
    if (nul >= 0) {
        out.truncate(nul);
    }
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.text = QString::fromLocal8Bit(out);
    return result;
}
}

ModuleInfo::ModuleInfo(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ModuleInfo)
{
    ui->setupUi(this);
    if (parent) {
        resize(static_cast<int>(parent->width() / 1.2), static_cast<int>(parent->height() / 1.2));
    }
}

ModuleInfo::~ModuleInfo()
{
    delete ui;
}

bool ModuleInfo::updateInfo(const QString &path, const QString &name)
{
    const ModinfoOutput info = runModinfo(path);
    if (!info.ok) {
        KMessageBox::error(parentWidget(), i18n("Couldn't get module info for module:\n%1", path), QString());
        close();
        return false;
    }

    ui->infoBox->setTitle(name);
    const QStringList lines = info.text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        // The output ends with a line feed; that adds no line of its own.
        if (i == lines.size() - 1 && lines.at(i).isEmpty()) {
            break;
        }
        ui->infoTextEdit->append(lines.at(i).simplified());
    }
    ui->infoTextEdit->moveCursor(QTextCursor::Start);
    return true;
}

QString ModuleInfo::version(const QString &path)
{
    const ModinfoOutput info = runModinfo(path);
    if (!info.ok || info.text.isEmpty()) {
        return i18n("unknown");
    }
    static const QRegularExpression versionLine(QStringLiteral("^version:"));
    static const QRegularExpression blanks(QStringLiteral("\\s"));
    const QStringList lines = info.text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (versionLine.match(line).hasMatch()) {
            return line.remove(QStringLiteral("version:")).remove(blanks);
        }
    }
    return i18n("unknown");
}
