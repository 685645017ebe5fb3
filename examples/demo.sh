#!/bin/sh
# Imports the example EPN files into a demo storage area below build/ and
# shows the result; then imports them again to show how replaced pieces are
# kept as superseded entries; exports the area to ASTM D6673 and EPN files.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/teilimp"
area_bin="$root/build/teilarea"
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
echo
echo "== teilarea list D:DEMO --all   (every entry, superseded ones too)"
"$area_bin" list D:DEMO --all
echo
echo "== teilarea check D:DEMO"
"$area_bin" check D:DEMO
echo
echo "== teilarea show D:DEMO VORDERTEIL -o build/demo-vorderteil.svg"
"$area_bin" show D:DEMO VORDERTEIL -o "$root/build/demo-vorderteil.svg"
echo
echo "== teilarea export D:DEMO -o build/demo-export/astm/demo.dxf   (ASTM D6673: a DXF and a RUL file per style)"
rm -rf "$root/build/demo-export"
mkdir -p "$root/build/demo-export/astm"
"$area_bin" export D:DEMO -o "$root/build/demo-export/astm/demo.dxf"
echo
echo "== teilarea export D:DEMO --format epn -o build/demo-export/epn   (one EPN file per piece)"
"$area_bin" export D:DEMO --format epn -o "$root/build/demo-export/epn"
echo
echo "The exported files are in $root/build/demo-export (astm/ and epn/)."
echo
echo "== teilimp D:ZURUECK build/demo-export/astm/*.dxf   (the ASTM export imported into a second area)"
mkdir -p "$drive/userroot/storage/ZURUECK/data"
echo j | "$bin" D:ZURUECK /d > /dev/null
"$bin" D:ZURUECK "$root/build/demo-export/astm/*.dxf"
"$area_bin" export D:ZURUECK --format epn -o "$root/build/demo-export/zurueck-epn" > /dev/null
if diff -r "$root/build/demo-export/epn" "$root/build/demo-export/zurueck-epn" > /dev/null; then
  echo "Both areas hold the same pieces (their EPN exports are equal)."
else
  echo "The areas differ (diff -r build/demo-export/epn build/demo-export/zurueck-epn)."
  exit 1
fi
echo
echo "== piece.ctl cut short, then teilarea check and teilarea repair"
head -c 100 "$data/piece.ctl" > "$data/piece.ctl.cut" && mv "$data/piece.ctl.cut" "$data/piece.ctl"
"$area_bin" check D:DEMO || true
"$area_bin" repair D:DEMO
echo
echo "== teilarea compact D:DEMO   (the superseded entries and their images dropped)"
"$area_bin" compact D:DEMO
"$area_bin" check D:DEMO
echo
echo "== teilarea epn examples/kragen.epn"
"$area_bin" epn "$root/examples/kragen.epn"
