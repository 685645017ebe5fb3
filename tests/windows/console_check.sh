#!/bin/sh
# The Windows program in a Wine console: a tmux pane is the terminal that
# Wine's console draws on, as when the program is started from a terminal.
# Checks what the pane shows: the code page 850 texts as ä ö ü, an answer
# typed at the console, a command typed at the pause after a failure, and
# Ctrl-C at a question, which ends the run.
#   tests/windows/console_check.sh <teilimp.exe>
# Runs in the Wine prefix of $WINEPREFIX (run_wine.sh makes it).
set -u
exe=$1
if ! command -v tmux >/dev/null 2>&1; then
  echo "Wine console check skipped: tmux not installed"
  exit 0
fi
work=$(mktemp -d)
mkdir -p "$work/userroot/storage/TEST/data" "$work/userroot/storage/LEER/data" "$work/epn"
# The example collar: its contour is turned, which the program says with an ä.
cp "$(dirname "$0")/../../examples/kragen.epn" "$work/epn/kragen.epn"
ln -sfn "$work" "$WINEPREFIX/dosdevices/t:"
sock="teilimp-console-$$"
tm() { LC_ALL=C.UTF-8 tmux -u -L "$sock" "$@"; }
screen() { tm capture-pane -p -J -S -200 -t con; }
# Waits up to 30 s until the pane shows `text`.
shows() {
  i=0
  while [ $i -lt 150 ]; do
    screen | grep -qF -- "$1" && return 0
    sleep 0.2
    i=$((i + 1))
  done
  echo "Wine console: \"$1\" not shown"
  return 1
}
type_line() { tm send-keys -t con -l "$1" && tm send-keys -t con Enter; }

tm new-session -d -s con -x 100 -y 60 "env LANG=C.UTF-8 LC_ALL=C.UTF-8 PS1='$ ' sh"
rc=0
type_line "wine '$exe' T:TEST /d" &&
  shows "Reset der Datenbasis durchführen." && shows "löschen wollen? (j/n)" &&
  type_line "j" && shows "Datenbasis geleert." &&
  type_line "wine '$exe' T:TEST 'T:\\epn\\kragen.epn'; echo \"exit \$?\"" &&
  shows "Achtung: Umlaufsinn der Kontur geändert." && shows "exit 0" &&
  type_line "wine '$exe' T:LEER 'T:\\epn\\kragen.epn' /f; echo \"failed \$?\"" &&
  shows "Weiter mit Enter." && type_line 'mkdir T:\ran' && shows "failed 1" && [ -d "$work/ran" ] &&
  type_line "wine '$exe' T:TEST 'T:\\epn\\kragen.epn' /f; echo \"end \$?\"" &&
  shows "Überschreiben? (Ja/Nein/Alle)" &&
  tm send-keys -t con C-c &&
  shows "Ergebnis: 0 importiert (0 ersetzt), 0 übergangen, 1 fehlerhaft." &&
  shows "Abbruch durch den Benutzer." && shows "end 1" || rc=1
if [ $rc -ne 0 ]; then
  echo "--- the Wine console showed:"
  screen
fi
tm kill-server 2>/dev/null
rm -f "$WINEPREFIX/dosdevices/t:"
rm -rf "$work"
if [ $rc -eq 0 ]; then echo "Wine console check: ä ö ü shown, answer read, command at the pause run, Ctrl-C handled"; fi
exit $rc
