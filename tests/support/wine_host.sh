#!/bin/sh
# Runs the Windows host under Wine with the arguments a controller gives it,
# so that the Linux test binaries can drive it (LUMORA_TEST_HOST names this
# script). LUMORA_WINDOWS_HOST is the .exe; the Wine prefix, WINEDEBUG and
# the running wineserver come from scripts/test_windows.sh. exec keeps the
# process id, so a test that kills its host kills the Windows process.
exec "${LUMORA_WINE:-/usr/lib/wine/wine64}" "$LUMORA_WINDOWS_HOST" "$@"
