// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "benchmarkscorefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace BenchmarkScoreFile
{

QString scoreFilePath()
{
    static const QString path = QDir::homePath() + QStringLiteral("/.config/vela-admin-video-driver.score");
    return path;
}

QString olderScoreFilePath()
{
    static const QString path = QDir::homePath() + QStringLiteral("/.config/vela-admin-driver.score");
    return path;
}

QString availablePath(const QString &scoreFile, const QString &olderFile)
{
    if (QFile::exists(scoreFile))
        return scoreFile;
    if (QFile::exists(olderFile))
        return olderFile;
    return {};
}

int readScore(const QString &path)
{
    if (path.isEmpty())
        return -1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLocal8Bit(file.readAll()).trimmed();
    bool ok = false;
    const int score = text.toInt(&ok, 10);
    return ok ? score : -1;
}

bool writeScore(const QString &score, const QString &scoreFile, const QString &olderFile)
{
    if (score.isEmpty())
        return false;
    // Written beside the old file and renamed over it: a full disk keeps the previous score.
    QDir().mkpath(QFileInfo(scoreFile).absolutePath()); // a fresh home has no ~/.config yet
    QSaveFile file(scoreFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(score.toLocal8Bit()) < 0 || !file.commit())
        return false;
    if (QFile::exists(olderFile) && !QFile::remove(olderFile))
        qWarning("Failed to remove old score file");
    return true;
}

} // namespace BenchmarkScoreFile
