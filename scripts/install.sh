#!/usr/bin/env bash
# Installs Orvik Converter for the current user as a desktop program:
#   ~/.local/opt/orvik-converter/     the program folder: the executables, Help.html, icons/;
#                                      config.cfg, temp/ and output/ come to live there too
#   ~/.local/bin/orvik-converter      a link to the program (and orvik-convert, when built)
#   ~/.local/share/applications/orvik-converter.desktop     the menu entry, "Open with"
#   ~/.local/share/icons/hicolor/{scalable,48x48,256x256}/apps/orvik-converter.*
# (~/.local/share is $XDG_DATA_HOME when that is set.)
#
#   scripts/install.sh             builds a Release in build/ and installs it
#   scripts/install.sh --from DIR  installs an already built folder instead: a build folder
#                                  (its bin/ is used) or a portable folder, e.g. an unpacked
#                                  package
#   scripts/install.sh --uninstall removes the program again; converted files in its
#                                  output/ folder stay, with the folder
#
# Installing again replaces the program's own files only: config.cfg and whatever temp/ and
# output/ hold are kept. A first install takes over config.cfg from the folder installed.
set -euo pipefail

readonly NAME=orvik-converter
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly REPO
readonly DATA="${XDG_DATA_HOME:-$HOME/.local/share}"
readonly PREFIX="$HOME/.local/opt/$NAME"
readonly BIN="$HOME/.local/bin"
readonly MENU_ENTRY="$DATA/applications/$NAME.desktop"
readonly HICOLOR="$DATA/icons/hicolor"
readonly EXECUTABLES=(orvik-converter orvik-convert)
# The icon files of the program folder and where each goes in the icon theme.
readonly ICONS=("$NAME.svg:scalable" "$NAME-48.png:48x48" "$NAME-256.png:256x256")

say() { printf '%s\n' "$*"; }
fail() { printf 'install.sh: %s\n' "$*" >&2; exit 1; }

usage() {
  sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "${BASH_SOURCE[0]}"
}

# An Exec value of a desktop entry naming `path`: quoted as a single argument, with the
# characters special inside quotes escaped, "%" doubled, and then every backslash escaped
# once more for the file's own string syntax.
desktop_exec_argument() {
  local quoted=$1
  quoted=${quoted//\\/\\\\}
  quoted=${quoted//\"/\\\"}
  quoted=${quoted//\`/\\\`}
  quoted=${quoted//\$/\\\$}
  quoted="\"$quoted\""
  quoted=${quoted//%/%%}
  quoted=${quoted//\\/\\\\}
  printf '%s' "$quoted"
}

# A plain string value of a desktop entry.
desktop_string() {
  printf '%s' "${1//\\/\\\\}"
}

# Brings the desktop's caches up to date where the tools are there. The icon cache is only
# refreshed where one already exists: without a cache the desktop reads the folders, while a
# cache it is not told about would hide the new icon.
refresh_desktop() {
  if command -v update-desktop-database >/dev/null && [ -d "$DATA/applications" ]; then
    update-desktop-database -q "$DATA/applications" || true
  fi
  if command -v gtk-update-icon-cache >/dev/null && [ -f "$HICOLOR/icon-theme.cache" ]; then
    gtk-update-icon-cache -q -t -f "$HICOLOR" || true
  fi
}

# The folder holding the built program: DIR itself, or DIR/bin for a build folder.
portable_folder() {
  local dir=$1
  if [ -x "$dir/$NAME" ] && [ ! -d "$dir/$NAME" ]; then
    printf '%s' "$dir"
  elif [ -x "$dir/bin/$NAME" ]; then
    printf '%s' "$dir/bin"
  else
    fail "no built $NAME in $dir or $dir/bin"
  fi
}

build_release() {
  bash "$REPO/scripts/install-deps.sh"
  cmake -S "$REPO" -B "$REPO/build" -DCMAKE_BUILD_TYPE=Release \
        -DORVIK_BUILD_TESTS=OFF -DORVIK_BUILD_BENCH=OFF >/dev/null
  cmake --build "$REPO/build" -j2
}

# Links `link` to `target` unless something that is not a link already stands there.
link_command() {
  local target=$1 link=$2
  if [ -e "$link" ] && [ ! -L "$link" ]; then
    say "Left alone: $link is not a link of this program."
    return
  fi
  ln -sfn "$target" "$link"
}

# Removes the link `link` when it points into the program folder.
unlink_command() {
  local link=$1
  if [ -L "$link" ] && [[ "$(readlink "$link")" == "$PREFIX/"* ]]; then
    rm -f "$link"
  fi
}

write_menu_entry() {
  local program="$PREFIX/$NAME" line
  case "$program" in
    *$'\n'* | *$'\r'* | *$'\t'*) fail "a menu entry cannot name a folder whose name holds a line break or a tab: $program" ;;
  esac
  mkdir -p "$(dirname "$MENU_ENTRY")"
  # The command is written with its full path: a desktop session started before
  # ~/.local/bin existed does not have it on its PATH, and the menu would hide the entry.
  while IFS= read -r line; do
    case "$line" in
      Exec=*) printf 'Exec=%s %%F\n' "$(desktop_exec_argument "$program")" ;;
      TryExec=*) printf 'TryExec=%s\n' "$(desktop_string "$program")" ;;
      *) printf '%s\n' "$line" ;;
    esac
  done <"$REPO/desktop/$NAME.desktop" >"$MENU_ENTRY.new"
  mv -f "$MENU_ENTRY.new" "$MENU_ENTRY"
}

install_program() {
  local from=$1 file size icon
  # Everything is checked before anything is copied, so a half-built folder installs nothing.
  for file in "$NAME" Help.html "${ICONS[@]%%:*}"; do
    [ "$file" = "$NAME" ] || [ "$file" = Help.html ] || file="icons/$file"
    [ -f "$from/$file" ] || fail "$from lacks $file: is it built?"
  done
  mkdir -p "$PREFIX/icons" "$BIN"
  # install(1) replaces a file by a new one instead of writing into it, so a copy of the
  # program that is running keeps working.
  for file in "${EXECUTABLES[@]}"; do
    if [ -f "$from/$file" ]; then
      install -m 755 "$from/$file" "$PREFIX/$file"
      link_command "$PREFIX/$file" "$BIN/$file"
    fi
  done
  install -m 644 "$from/Help.html" "$PREFIX/Help.html"
  # A first install takes over the settings of the folder it installs from, so the program
  # started from the build folder until now keeps them; later installs keep their own.
  if [ ! -e "$PREFIX/config.cfg" ] && [ -f "$from/config.cfg" ]; then
    install -m 644 "$from/config.cfg" "$PREFIX/config.cfg"
  fi
  for icon in "${ICONS[@]}"; do
    file=${icon%%:*}
    size=${icon##*:}
    install -m 644 "$from/icons/$file" "$PREFIX/icons/$file"
    install -D -m 644 "$from/icons/$file" "$HICOLOR/$size/apps/$NAME.${file##*.}"
  done
  write_menu_entry
  refresh_desktop
  say "Installed in $PREFIX; the menu entry is \"Orvik Converter\"."
  case ":$PATH:" in
    *":$BIN:"*) ;;
    *) say "$BIN is not on PATH yet; it will be after the next login, or start $PREFIX/$NAME." ;;
  esac
}

uninstall_program() {
  local file icon size
  rm -f "$MENU_ENTRY"
  for icon in "${ICONS[@]}"; do
    file=${icon%%:*}
    size=${icon##*:}
    rm -f "$HICOLOR/$size/apps/$NAME.${file##*.}"
  done
  for file in "${EXECUTABLES[@]}"; do
    unlink_command "$BIN/$file"
    rm -f "$PREFIX/$file"
  done
  rm -f "$PREFIX/Help.html" "$PREFIX/config.cfg"
  for icon in "${ICONS[@]}"; do rm -f "$PREFIX/icons/${icon%%:*}"; done
  # temp/ holds only the program's intermediate files; output/ goes only when empty, and
  # so does the folder: what else is in it is the user's.
  rm -rf "$PREFIX/temp"
  rmdir "$PREFIX/icons" "$PREFIX/output" 2>/dev/null || true
  rmdir "$PREFIX" 2>/dev/null || true
  refresh_desktop
  if [ -d "$PREFIX" ]; then
    say "Removed Orvik Converter. Kept what is yours in $PREFIX (the converted files of output/)."
  else
    say "Removed Orvik Converter."
  fi
}

main() {
  local from=""
  case "${1:-}" in
    "") ;;
    --from)
      [ $# -eq 2 ] || fail "--from needs a folder"
      from=$(portable_folder "$2")
      ;;
    --uninstall)
      [ $# -eq 1 ] || fail "--uninstall takes nothing more"
      uninstall_program
      return
      ;;
    -h | --help)
      usage
      return
      ;;
    *) fail "unknown argument: $1 (try --help)" ;;
  esac
  if [ -z "$from" ]; then
    build_release
    from="$REPO/build/bin"
  fi
  install_program "$from"
}

main "$@"
