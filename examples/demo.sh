#!/bin/sh
# Imports the example EPN files into a demo storage area below build/ and
# shows the result; then imports them again to show how replaced pieces are
# kept as superseded entries.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/teilimp"
drive="$root/build/demo-drive"
data="$drive/userroot/storage/DEMO/data"

rm -rf "$drive"
mkdir -p "$data"
# Drive D: of the demo is the directory build/demo-drive.
TEILIMP_DRIVE_D="$drive"
export TEILIMP_DRIVE_D

echo "== teilimp D:DEMO /d   (clearing the demo area, answering j)"
echo j | "$bin" D:DEMO /d
echo
echo "== teilimp D:DEMO $root/examples/*.epn"
"$bin" D:DEMO "$root/examples/*.epn"
echo
echo "== teilimp D:DEMO $root/examples/*.epn /s1   (again: the pieces are replaced)"
"$bin" D:DEMO "$root/examples/*.epn" /s1
echo
echo "== teilimp D:DEMO $root/examples/*.epn /n   (existing pieces are kept)"
"$bin" D:DEMO "$root/examples/*.epn" /n
echo
echo "== The area $data"
ls -l "$data"
echo
echo "== piece.ctl: one 64-byte record per entry (name, file code, slot, state), the trailer last"
od -A d -t x1z -w16 -v "$data/piece.ctl"
