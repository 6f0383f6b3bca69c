#!/usr/bin/env bash
# What measuring loudness adds to a batch: the 22-file batch to Ogg Vorbis (48000 Hz,
# quality 5) and to MP3 (CBR 192), by the window and by orvik-convert -j 1, with ReplayGain
# off and by track and album; see bench/README.md.
#
#   bench/bench_replaygain.sh BUILD_DIR [WORK_DIR]
set -euo pipefail

build=${1:?usage: bench/bench_replaygain.sh BUILD_DIR [WORK_DIR]}
convert=$(realpath "$build/bin/orvik-convert")
window=$(realpath "$build/bench/bench_window")
work=${2:-$(mktemp -d /tmp/orvik-bench-replaygain.XXXXXX)}
mkdir -p "$work/prog"

source "$(dirname "$0")/batch22.sh"
make_batch22 "$work/batch"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
load() { cut -d' ' -f1 /proc/loadavg; }

# run WAY FORMAT OGG_RATE REPLAYGAIN: "WALL CPU" of the window or of orvik-convert -j 1
# converting the batch into $work/out.
run() {
  local way=$1 format=$2 rate=$3 mode=$4
  rm -rf "$work/out" && mkdir -p "$work/out"
  if [[ $way == window ]]; then
    config "$format" "$work/out" "$rate" "$mode" > "$work/run.cfg"
    timed "$window" "$work/run.cfg" "$work/prog" "$work"/batch/*
  else
    config "$format" "" "$rate" "$mode" > "$work/run.cfg"
    timed "$convert" --config "$work/run.cfg" -q -j 1 -o "$work/out" "$work"/batch/*
  fi
}

# The outputs of the last run that carry an album gain.
tagged() {
  local n=0 f
  for f in "$work"/out/*; do
    ffprobe -v error -show_entries format_tags:stream_tags -of default=nw=1 "$f" |
      grep -qiE '^TAG:(REPLAYGAIN_ALBUM_GAIN|R128_ALBUM_GAIN)=' && n=$((n + 1))
  done
  echo "$n"
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| 22-file batch to | by | off wall / CPU | by track and album wall / CPU | album / off wall | CPU | outputs with album tags | load |"
echo "|---|---|---|---|---|---|---|---|"
for format in ogg mp3; do
  for way in window orvik-convert; do
    l=$(load)
    read -r ow oc < <(run "$way" "$format" 48000 0)
    read -r aw ac < <(run "$way" "$format" 48000 2)
    echo "| $format | $way | $ow s / $oc s | $aw s / $ac s | $(ratio "$aw" "$ow") | $(ratio "$ac" "$oc") | $(tagged) of $(ls "$work/out" | wc -l) | $l / $(load) |"
  done
done
