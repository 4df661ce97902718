// SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Preloaded into the privileged helper: every answer to a D-Bus method call leaves half a second
// late. KAuth's helper sends its "action performed" signal first and answers the call that
// started the action afterwards, and KAuth's client ends the job on the signal: a client that
// leaves right after its job has ended does so before that answer every time here, which is
// otherwise a matter of a millisecond and comes now and then only.
//
// With LATE_ANSWER_MARK set, a line is appended to that file just before each late answer is
// sent: a client that waits for its answer finds the line there once it has ended, one that
// left before the answer does not.
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

// Plain storage, set before any C++ initialiser could run and reset it.
static char markFile[4096];

// Only the helper itself is slowed down: the programs it starts do not inherit the preload.
__attribute__((constructor)) static void keepPreloadToHelper()
{
    if (const char *mark = getenv("LATE_ANSWER_MARK")) {
        std::strncpy(markFile, mark, sizeof markFile - 1);
    }
    unsetenv("LD_PRELOAD");
    unsetenv("LATE_ANSWER_MARK");
}

static void markAnswer()
{
    if (markFile[0] == '\0') {
        return;
    }
    const int fd = open(markFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        static const char line[] = "answer\n";
        (void)!write(fd, line, std::strlen(line));
        close(fd);
    }
}

struct DBusConnection;
struct DBusMessage;

extern "C" __attribute__((visibility("default"))) unsigned int dbus_connection_send(DBusConnection *connection, DBusMessage *message, unsigned int *serial)
{
    using Send = unsigned int (*)(DBusConnection *, DBusMessage *, unsigned int *);
    using Type = int (*)(DBusMessage *);
    static const auto next = reinterpret_cast<Send>(dlsym(RTLD_NEXT, "dbus_connection_send"));
    static const auto typeOf = reinterpret_cast<Type>(dlsym(RTLD_DEFAULT, "dbus_message_get_type"));
    constexpr int methodReturn = 2; // DBUS_MESSAGE_TYPE_METHOD_RETURN
    if (typeOf && typeOf(message) == methodReturn) {
        usleep(500 * 1000);
        markAnswer();
    }
    return next(connection, message, serial);
}
