// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

// The latest benchmark score of the user, kept beside the full history in a one-line file so
// the benchmark page can show it at once. Older releases kept it under another name; that file
// is read while the new one is missing and removed once a new score is written.
namespace BenchmarkScoreFile
{
QString scoreFilePath(); // ~/.config/vela-admin-video-driver.score
QString olderScoreFilePath(); // ~/.config/vela-admin-driver.score

// The file to read: the score file, else the older one, else empty.
QString availablePath(const QString &scoreFile = scoreFilePath(), const QString &olderFile = olderScoreFilePath());

// The stored score, or -1 when there is none or the file holds no decimal integer.
int readScore(const QString &path);

// Replaces the score file with score (decimal digits, no line end) and removes the older file.
// Returns false, writing nothing, when score is empty or the file cannot be written.
bool writeScore(const QString &score, const QString &scoreFile = scoreFilePath(), const QString &olderFile = olderScoreFilePath());
}
