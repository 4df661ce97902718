#!/bin/sh
# in-private-etc-default.sh COMMAND [ARGS...]
# Runs COMMAND in a private mount namespace with an empty tmpfs over /etc/default, so that a
# test can write the boot loader defaults at their real path without touching the host's.
# Exits 77 (reported as skipped) when no private mount namespace can be had.
set -eu
if [ "${CORVO_PRIVATE_ETC_DEFAULT:-}" != 1 ]; then
    export CORVO_PRIVATE_ETC_DEFAULT=1
    if [ "$(id -u)" = 0 ]; then
        exec /usr/bin/unshare -m --propagation private "$0" "$@"
    fi
    if /usr/bin/unshare -r -m /bin/true 2>/dev/null; then
        exec /usr/bin/unshare -r -m --propagation private "$0" "$@"
    fi
    echo "SKIP: neither root nor user namespaces: cannot make a private mount namespace"
    exit 77
fi
/bin/mount -t tmpfs -o size=1m,mode=755 corvo-test-etc-default /etc/default
exec "$@"
