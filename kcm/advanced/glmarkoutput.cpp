// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "glmarkoutput.h"

#include <QRegularExpression>

void GlmarkOutput::append(const QByteArray &chunk)
{
    const int scanFrom = m_all.size();
    m_all.append(chunk);
    for (int end = m_all.indexOf('\n', scanFrom); end >= 0; end = m_all.indexOf('\n', end + 1)) {
        if (m_all.at(m_lineStart) == '[') {
            ++m_scenesDone;
        }
        m_lineStart = end + 1;
    }
}

void GlmarkOutput::clear()
{
    *this = GlmarkOutput();
}

QString GlmarkOutput::currentScene() const
{
    if (m_lineStart >= m_all.size() || m_all.at(m_lineStart) != '[') {
        return QString();
    }
    QString scene = QString::fromLatin1(m_all.mid(m_lineStart)).trimmed();
    if (scene.endsWith(QLatin1Char(':'))) {
        scene.chop(1);
    }
    return scene;
}

QString GlmarkOutput::scoreText(const QByteArray &output)
{
    static const QRegularExpression pattern(QStringLiteral("Score:\\s+(?'score'\\d+)"), QRegularExpression::MultilineOption);
    const int nul = output.indexOf('\0');
    const QString text = QString::fromLatin1(nul >= 0 ? output.left(nul) : output);
    return pattern.match(text).captured(QStringLiteral("score"));
}
