// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The plug-in entry the system settings load: one factory that creates the main module with
// the host's parent widget and arguments.
#include "mainmodule.h"

#include <KPluginFactory>

K_PLUGIN_FACTORY(KCMDriversFactory, registerPlugin<MainModule>();)

#include "kcmdriversfactory.moc"
