// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Preloaded into the privileged helper by the retry test: every object registration on the bus
// waits half a second first. KAuth's helper claims its bus name before it registers its object,
// so the call that started the helper reaches it in between and is answered "No such object
// path '/'": the start-up race a client meets now and then, made certain.
#include <QDBusConnection>
#include <QThread>

#include <cstdlib>
#include <dlfcn.h>

// Only the helper itself is slowed down: the programs it starts do not inherit the preload.
__attribute__((constructor)) static void keepPreloadToHelper()
{
    unsetenv("LD_PRELOAD");
}

using Register = bool (*)(QDBusConnection *, const QString &, QObject *, QDBusConnection::RegisterOptions);

bool QDBusConnection::registerObject(const QString &path, QObject *object, RegisterOptions options)
{
    static const auto next =
        reinterpret_cast<Register>(dlsym(RTLD_NEXT, "_ZN15QDBusConnection14registerObjectERK7QStringP7QObject6QFlagsINS_14RegisterOptionEE"));
    QThread::msleep(500);
    return next(this, path, object, options);
}
