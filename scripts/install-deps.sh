#!/usr/bin/env bash
# Installs, with apt-get, every Debian package the converter needs to build, run and be
# tested. Only what is missing is installed, so a second run is quick.
set -euo pipefail

packages=(
  g++ cmake pkg-config make
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libopenmpt-dev
  libfluidsynth-dev fluid-soundfont-gm
  libcdio-dev libcdio-cdda-dev libcdio-paranoia-dev
  libcue-dev cuetools shntool
  libmp3lame-dev
  libvorbis-dev libogg-dev
  libflac-dev libopus-dev libopusenc-dev
  qt6-translations-l10n
  libtag1-dev
  libebur128-dev
  fonts-dejavu-core
  xvfb xauth
  desktop-file-utils librsvg2-bin
  ffmpeg vorbis-tools oggz-tools flac opus-tools
  fluidsynth openmpt123
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
