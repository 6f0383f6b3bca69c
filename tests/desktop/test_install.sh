#!/usr/bin/env bash
# The per-user install, run into a throw-away home with the program just built: the files in
# place, a menu entry that the validator accepts and that registers for "Open with", the
# installed program starting offscreen and closing on its own with its settings written
# beside itself, a second install that keeps the user's files, an uninstall that leaves only
# the converted files, and a first install that takes over the installed folder's settings.
#   test_install.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

repo=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Blanks, Cyrillic, "%" and "$" in the home folder must survive the menu entry's quoting.
home="$work/дом 100% \$HOME"
mkdir -p "$home"
prefix="$home/.local/opt/orvik-converter"
data="$home/.local/share"
entry="$data/applications/orvik-converter.desktop"

fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
in_home() { env -u XDG_DATA_HOME -u QT_QPA_PLATFORM HOME="$home" "$@"; }
install_it() { in_home bash "$repo/scripts/install.sh" "$@" >/dev/null; }

# --- install ---------------------------------------------------------------------------
install_it --from "$build"
for file in "$prefix/orvik-converter" "$prefix/Help.html" \
            "$prefix/icons/orvik-converter.svg" "$prefix/icons/orvik-converter-48.png" \
            "$prefix/icons/orvik-converter-256.png" \
            "$data/icons/hicolor/scalable/apps/orvik-converter.svg" \
            "$data/icons/hicolor/48x48/apps/orvik-converter.png" \
            "$data/icons/hicolor/256x256/apps/orvik-converter.png"; do
  [ -s "$file" ] || fail "not installed: $file"
done
[ "$(readlink "$home/.local/bin/orvik-converter")" = "$prefix/orvik-converter" ] ||
  fail "\$HOME/.local/bin/orvik-converter does not lead to the program"
if [ -x "$build/bin/orvik-convert" ]; then
  [ -x "$home/.local/bin/orvik-convert" ] || fail "orvik-convert was built but not linked"
fi

report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
[ -z "$report" ] || fail "desktop-file-validate: $report"
expected_exec="Exec=\"$work/дом 100%% \\\\\$HOME/.local/opt/orvik-converter/orvik-converter\" %F"
grep -qxF "$expected_exec" "$entry" || fail "Exec line: $(grep '^Exec=' "$entry")"
grep -qxF "TryExec=$prefix/orvik-converter" "$entry" || fail "TryExec line: $(grep '^TryExec=' "$entry")"
if command -v update-desktop-database >/dev/null; then
  grep -q '^audio/mpeg=.*orvik-converter\.desktop' "$data/applications/mimeinfo.cache" ||
    fail "not offered for MP3 files"
fi

# --- the installed program starts, through its link, with Qt's own option and a file -----
song="$work/Песня.mp3"
: >"$song"
(cd "$work" && exec env -u XDG_DATA_HOME -u QT_QPA_PLATFORM HOME="$home" \
   "$home/.local/bin/orvik-converter" -platform offscreen "$song" 2>"$work/stderr") &
program=$!
# A child that has ended stays as a zombie until waited for: "Z" counts as ended.
alive() { local state; state=$(awk '/^State:/ {print $2}' "/proc/$program/status" 2>/dev/null); [ -n "$state" ] && [ "$state" != Z ]; }
# Up once it catches SIGTERM (signal 15: bit 14 of the caught mask).
for _ in $(seq 300); do
  alive || break
  caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$program/status")
  (( 0x$caught & 0x4000 )) && break
  sleep 0.1
done
alive || { wait "$program" || true; fail "ended at start-up: $(cat "$work/stderr")"; }
kill -TERM "$program"
for _ in $(seq 300); do alive || break; sleep 0.1; done
if alive; then kill -KILL "$program"; fail "still running 30 s after SIGTERM"; fi
status=0
wait "$program" || status=$?
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM: $(cat "$work/stderr")"
grep -q '^OutputFormat=' "$prefix/config.cfg" || fail "config.cfg not written beside the program"

# --- a second install keeps the user's files ---------------------------------------------
sed -i 's/^OutputFormat=.*/OutputFormat=ogg/' "$prefix/config.cfg"
cp "$prefix/config.cfg" "$work/config.kept"
mkdir -p "$prefix/temp" "$prefix/output"
echo wav >"$prefix/temp/tmp100000.wav"
echo mp3 >"$prefix/output/Трек 01.mp3"
# ... even when the folder installed from has settings of its own
portable="$work/portable"
mkdir -p "$portable/icons"
cp "$build/bin/orvik-converter" "$build/bin/Help.html" "$portable/"
cp "$build/bin/icons/"* "$portable/icons/"
printf '[Main]\nOutputFormat=wma\n' >"$portable/config.cfg"
install_it --from "$portable"
cmp -s "$prefix/config.cfg" "$work/config.kept" || fail "a second install changed config.cfg"
[ -s "$prefix/temp/tmp100000.wav" ] || fail "a second install emptied temp/"
[ -s "$prefix/output/Трек 01.mp3" ] || fail "a second install emptied output/"

# --- uninstall leaves only the converted files, then nothing ------------------------------
install_it --uninstall
left=$(cd "$home" && find . -path ./.cache -prune -o \( -type f -o -type l \) -print |
       grep -v '/mimeinfo.cache$' | sort)
[ "$left" = "./.local/opt/orvik-converter/output/Трек 01.mp3" ] ||
  fail "left after uninstall: $left"
if command -v update-desktop-database >/dev/null; then
  ! grep -q 'orvik-converter' "$data/applications/mimeinfo.cache" ||
    fail "still offered for MP3 files after uninstall"
fi
rm "$prefix/output/Трек 01.mp3"
install_it --uninstall
[ ! -e "$prefix" ] || fail "the program folder stays after an uninstall with no outputs"

# --- a first install takes over the settings of the folder it installs from -------------
install_it --from "$portable"
cmp -s "$prefix/config.cfg" "$portable/config.cfg" || fail "a first install left the settings behind"
install_it --uninstall
