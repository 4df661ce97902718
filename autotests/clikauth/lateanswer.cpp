// Preloaded into the privileged helper: every answer to a D-Bus method call leaves half a second
// late. KAuth's helper sends its "action performed" signal first and answers the call that
// started the action afterwards, and KAuth's client ends the job on the signal: a client that
// leaves right after its job has ended does so before that answer every time here, which is
// otherwise a matter of a millisecond and comes now and then only.
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

// Only the helper itself is slowed down: the programs it starts do not inherit the preload.
__attribute__((constructor)) static void keepPreloadToHelper()
{
    unsetenv("LD_PRELOAD");
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
    }
    return next(connection, message, serial);
}
