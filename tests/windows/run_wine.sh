#!/bin/sh
# Runs the tests of a Windows build under Wine: a fresh Wine prefix of its
# own inside the build directory, ctest with Wine as the emulator (set when
# the build was configured), and Wine's server stopped at the end.
#   tests/windows/run_wine.sh <build dir> [ctest arguments]
# With TEILIMP_PARITY set to the Linux build's test_parity, that test runs
# too, in the same prefix; then console_check.sh.
set -u
build=$(cd "$1" && pwd)
shift
prefix="$build/wineprefix"
rm -rf "$prefix"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer dialogues while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The tests compare German texts in code page 850; Wine takes its code
# pages from the locale.
export LC_ALL=C
start=$(date +%s)
wineboot --init >/dev/null 2>&1
# One server kept for the whole run, so that no program waits for a server
# (and the services) to start: the one of wineboot stopped, a persistent
# one started.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
wineserver -p </dev/null >/dev/null 2>&1
# The services start with the first program and inherit its standard
# handles: started here, they hold no pipe of a test open.
wineboot </dev/null >/dev/null 2>&1
rc=0
if ! (cd "$build" && ctest --output-on-failure "$@"); then
  # Now and then Wine's server stalls while a test kills or interrupts a
  # program, and the tests running beside it wait with it until their
  # timeout. The tests that failed run once more, one at a time; a test
  # that fails again fails the run.
  echo "== tests failed under Wine: they run once more, one at a time"
  (cd "$build" && ctest --output-on-failure --rerun-failed) || rc=$?
fi
# The Linux program against this Windows program, when the Linux build has
# its parity test ($TEILIMP_PARITY: the test program).
if [ -n "${TEILIMP_PARITY:-}" ]; then
  TEILIMP_WINDOWS_PROGRAM="$build/teilimp.exe" "$TEILIMP_PARITY" || rc=$?
fi
# The program in a Wine console on a terminal (a tmux pane).
sh "$(dirname "$0")/console_check.sh" "$build/teilimp.exe" || rc=1
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
echo "Windows tests under Wine ($build): $(( $(date +%s) - start )) s"
exit $rc
