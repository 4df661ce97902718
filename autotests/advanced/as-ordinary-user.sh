#!/bin/sh
# as-ordinary-user.sh COMMAND [ARG...]: runs COMMAND as nobody when started as root (file
# permissions then bind the command as they bind a user), else as the caller.
if [ "$(id -u)" = 0 ]; then
    exec /usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
fi
exec "$@"
