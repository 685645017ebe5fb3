#!/bin/sh
# Runs the tests of a Windows build under Wine: a fresh Wine prefix of its
# own inside the build directory, ctest with Wine as the emulator (set when
# the build was configured), and Wine's server stopped at the end.
#   tests/windows/run_wine.sh <build dir> [ctest arguments]
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
rc=0
(cd "$build" && ctest --output-on-failure "$@") || rc=$?
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
echo "Windows tests under Wine ($build): $(( $(date +%s) - start )) s"
exit $rc
