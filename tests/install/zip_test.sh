#!/bin/sh
# The Windows zip of a MinGW-w64 build, made by CPack and unpacked: both
# programs, README.txt in CR LF and the examples in one folder; under Wine
# the unpacked teilimp.exe clears a fresh area and imports the examples
# into it, and teilarea.exe finds it in order. Runs in the Wine prefix of
# tests/windows/run_wine.sh (WINEPREFIX); drive P: is this test's.
#   zip_test.sh <build dir> <source dir> <version> <emulator>
set -u
build=$1 source=$2 version=$3
shift 3
wine=${1:-}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/teilimp-zip.XXXXXX")
link=
cleanup() {
    [ -n "$link" ] && rm -f "$link"
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

name=teilimp-$version-win64
cpack --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/log" 2>&1 || { cat "$tmp/log"; fail "cpack"; }
[ -f "$tmp/package/$name.zip" ] || { ls "$tmp/package"; fail "no $name.zip"; }
mkdir -p "$tmp/p/zip"
(cd "$tmp/p/zip" && cmake -E tar xf "$tmp/package/$name.zip") || fail "$name.zip does not unpack"
dir="$tmp/p/zip/$name"
(cd "$dir" && find . ! -type d | sed 's,^\./,,' | sort) >"$tmp/got"
{
    printf '%s\n' README.txt teilarea.exe teilimp.exe
    for f in "$source"/examples/*.epn; do echo "examples/$(basename "$f")"; done
} | sort >"$tmp/want"
diff "$tmp/want" "$tmp/got" || fail "the zip's files differ from the list (< wanted, > in the zip)"
# Every line of README.txt ends in CR LF.
cr=$(printf '\r')
lines=$(wc -l <"$dir/README.txt")
crlf=$(grep -c "$cr\$" "$dir/README.txt")
[ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "README.txt: $crlf of $lines lines end in CR LF"
echo "$name.zip: $(wc -l <"$tmp/got") files, README.txt in CR LF"

if [ -z "$wine" ] || ! command -v "$wine" >/dev/null 2>&1 || [ -z "${WINEPREFIX:-}" ]; then
    echo "Wine or its prefix (WINEPREFIX, made by tests/windows/run_wine.sh) not there: the zip's programs not run"
    exit 77
fi
# Drive P: of the prefix is the scratch directory.
link="$WINEPREFIX/dosdevices/p:"
rm -f "$link"
ln -s "$tmp/p" "$link" || fail "no drive P: in $WINEPREFIX"
mkdir -p "$tmp/p/userroot/storage/TEST/data"
if out=$("$wine" "$dir/teilimp.exe" --version 2>&1); then
    [ "$(printf '%s' "$out" | tr -d '\r')" = "teilimp $version" ] || fail "teilimp.exe --version: $out"
fi
out=$(echo j | "$wine" "$dir/teilimp.exe" P:TEST /d 2>&1) || fail "clear: $out"
out=$("$wine" "$dir/teilimp.exe" P:TEST "P:\\zip\\$name\\examples\\*.epn" 2>&1) || fail "import: $out"
n=$(ls "$dir"/examples/*.epn | wc -l)
printf '%s\n' "$out" | grep -q "^Ergebnis: $n importiert" || fail "import: $out"
out=$("$wine" "$dir/teilarea.exe" check P:TEST 2>&1) || fail "teilarea check: $out"
echo "the zip's teilimp.exe under Wine imported $n examples into a fresh area; teilarea.exe check: in order"
