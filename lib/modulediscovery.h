// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QHash>
#include <QString>

// A first-match index of the running kernel's module tree: file name -> full path of the first
// entry with that name in directory-iterator order (symbolic links followed). One walk serves
// every lookup of a probe, instead of one walk per module name.
class ModuleIndex
{
public:
    // Walks root (when it is not given: the running kernel's module folder) at once.
    explicit ModuleIndex(const QString &root = QString());

    // The path of the first entry called fileName, or an empty text.
    QString find(const QString &fileName) const;

    static QString runningKernelTree();

private:
    QHash<QString, QString> m_firstMatch;
};

namespace ModuleFiles
{
// "nvidia_drm" -> "nvidia-drm": the form module files are named in.
QString dashedName(const QString &name);

// "nvidia_drm" -> "nvidia-drm.ko"
QString fileNameFor(const QString &name);

// The module name a module file declares. Kernel modules carry it as the "name=" entry of
// their ".modinfo" ELF section; that entry is read first, since other text in the file can
// contain "name=" as well (amdgpu's trace formats do). A file without such a section is
// searched for its first NUL-separated record holding "name=", which gives the text after
// the first '=' up to the next one. Empty when nothing is found or the file is unreadable.
QString declaredName(const QString &path);

// The same two rules applied to file contents already in memory.
QString declaredNameFromData(const QByteArray &data);
QString modinfoNameFromElf(const QByteArray &data);
QString firstNameRecord(const QByteArray &data);
}
