#!/usr/bin/env bash
# Runs the Windows layer's own tests (windows_platform_tests.exe, when built
# beside the host) and the integration tests that drive the host through the
# client library against the Windows build of lumora-host.exe, under Wine:
# the Linux test binary is the controller, tests/support/wine_host.sh starts
# the .exe.
#   scripts/test_windows.sh LINUX_BUILD_DIR HOST_EXE [gtest options...]
# One wineserver serves the whole run and is stopped after it; the Wine
# prefix lives beside the .exe in the build folder. Exits with 77 (CTest's
# skip code) and says why when Wine cannot start.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ $# -lt 2 ]; then
  echo "usage: scripts/test_windows.sh LINUX_BUILD_DIR HOST_EXE [gtest options...]" >&2
  exit 2
fi
linux_build=$(cd "$1" && pwd)
host_exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2

skip() {
  echo "SKIPPED: the Windows host's tests under Wine: $*" >&2
  exit 77
}

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] && [ -x "$wineserver" ] || skip "Wine is not installed (scripts/setup.sh windows installs it)"
[ -f "$host_exe" ] || skip "$host_exe is not built (scripts/setup.sh windows builds it)"
tests=$linux_build/tests/integration_tests
[ -x "$tests" ] || { echo "test_windows: $tests is not built" >&2; exit 1; }

export WINEPREFIX=$(dirname "$host_exe")/wine-prefix
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installers, and no window: the host is a console program.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"

# A server left over from an earlier run of this prefix goes first.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
"$wineserver" -p || skip "wineserver did not start"
trap '"$wineserver" -k 2>/dev/null || true' EXIT
# Creates the prefix on the first run and starts Wine's own services now,
# so that they do not inherit the output pipes of the first host started.
if ! timeout 300 "$wine" wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1; then
  skip "wineboot failed (see $WINEPREFIX/wineboot.log)"
fi

# The Windows layer's own tests, when built beside the host.
unit_tests=$(dirname "$host_exe")/windows_platform_tests.exe
unit_status=0
if [ -f "$unit_tests" ]; then
  echo "== the Windows layer's tests under Wine"
  "$wine" "$unit_tests" || unit_status=$?
fi

echo "== the host's integration tests against $(basename "$host_exe") under Wine"
# What Wine can show: the protocol, the command line, hostile frames,
# dispatch, scheduling and statistics, and the headless terminal. Left out:
# FIFOs (no such thing on Windows), images (the Windows build has no PNG
# decoder until SDL comes to it: the oversized-reply test needs one) and
# everything needing a console or window (the window's own open messages).
filter='HostCommandLineTest.*:HostProtocolTest.*:HostHostileInputTest.*:TerminalBackendTest.*'
filter+=':TerminalBackendOpenTest.*:TerminalLinesTest.*:TerminalBoxesTest.*:HostCapturePathTest.*'
filter+='-HostHostileInputTest.CaptureToAFifoNobodyReadsIsRefusedAndTheHostServesOn'
filter+=':HostHostileInputTest.RepliesAboveTheFrameLimitAreRefusedAndTheSessionGoesOn'
filter+=':HostProtocolTest.HostMessagesWithoutABackend'

LUMORA_TEST_HOST=$root/tests/support/wine_host.sh LUMORA_WINDOWS_HOST=$host_exe \
  "$tests" --gtest_filter="$filter" "$@"
exit "$unit_status"
