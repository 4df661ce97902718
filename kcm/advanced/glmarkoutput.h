// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// What glmark2 has printed so far, read as it comes. glmark2 writes the scene it is about to
// measure as "[build] use-vbo=false:" and completes that line with " FPS: 250 FrameTime: ..."
// (or "Unsupported", "Set up failed") once the scene is done; its other lines (header, notes
// of the GL stack, the score block) do not start with "[".
class GlmarkOutput
{
public:
    void append(const QByteArray &chunk);
    void clear();

    QByteArray all() const
    {
        return m_all;
    }
    // Scenes whose line is complete.
    int scenesDone() const
    {
        return m_scenesDone;
    }
    // The scene being measured, e.g. "[build] use-vbo=false"; empty between scenes.
    QString currentScene() const;

    // The first "Score: N" of a run's output, as text (Latin-1 up to the first NUL byte);
    // empty when there is none.
    static QString scoreText(const QByteArray &output);

private:
    QByteArray m_all;
    int m_lineStart = 0; // where the unfinished last line begins
    int m_scenesDone = 0;
};
