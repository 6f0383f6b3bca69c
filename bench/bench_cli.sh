#!/usr/bin/env bash
# orvik-convert -j 2 against the ffmpeg command-line program, file by file and two at a
# time (xargs -P 2), on a generated batch of 20 three-minute sources; see bench/README.md.
#
#   bench/bench_cli.sh BUILD_DIR [WORK_DIR]
#
# Prints one row per output format: wall and CPU (user + system) seconds of each way, and
# the ratios the targets are about.
set -euo pipefail

build=${1:?usage: bench/bench_cli.sh BUILD_DIR [WORK_DIR]}
convert=$(realpath "$build/bin/orvik-convert")
work=${2:-$(mktemp -d /tmp/orvik-bench.XXXXXX)}
mkdir -p "$work/src"
# A quick check of the script itself: BENCH_FILES=2 BENCH_SECONDS=5 with another WORK_DIR.
files=${BENCH_FILES:-20}
seconds=${BENCH_SECONDS:-180}

# Tones of a chord a little apart per file over pink noise: material encoders work at, not a
# silence or a pure tone. Even files are WAV, odd ones MP3 (LAME, 192 kbit/s).
for i in $(seq 1 "$files"); do
  name=$(printf 'song%02d' "$i")
  [[ -e "$work/src/$name.wav" || -e "$work/src/$name.mp3" ]] && continue
  f=$((180 + 7 * i))
  graph="anoisesrc=color=pink:amplitude=0.15:seed=$i:r=44100:d=$seconds,pan=stereo|c0=c0|c1=c0[n];"
  graph+="sine=f=$f:r=44100:d=$seconds,pan=stereo|c0=c0|c1=0.6*c0[a];"
  graph+="sine=f=$((f * 5 / 4)):r=44100:d=$seconds,pan=stereo|c0=0.6*c0|c1=c0[b];"
  graph+="sine=f=$((f * 3 / 2)):r=44100:d=$seconds,pan=stereo|c0=c0|c1=c0[c];"
  graph+="[n][a][b][c]amix=inputs=4:normalize=0,volume=0.5"
  if (( i % 2 == 0 )); then
    ffmpeg -nostdin -v error -filter_complex "$graph" -c:a pcm_s16le "$work/src/$name.wav"
  else
    ffmpeg -nostdin -v error -filter_complex "$graph" -c:a libmp3lame -b:a 192k "$work/src/$name.mp3"
  fi
done

# Settings of a first run, so nothing of a config.cfg beside the build (a deletion) applies.
# (bench/first-run.cfg ends without a line feed after its last value, as the window writes it.)
cp "$(dirname "$0")/first-run.cfg" "$work/config.cfg"

# measure LABEL COMMAND...: runs the command under /usr/bin/time; prints "WALL CPU", and
# says it with the label on standard error as soon as it is known. A failed command stops
# the script.
measure() {
  local label=$1 times="$work/times"
  shift
  if ! /usr/bin/time -f '%e %U %S' -o "$times" "$@" >/dev/null; then
    echo "failed: $*" >&2
    kill $$
  fi
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$times"
  awk -v what="$label" '{ printf "  %s: wall %.2f s, CPU %.2f s\n", what, $1, $2 + $3 }' "$times" >&2
}

# One ffmpeg per source, as a user would script it; "$1" the extension, the rest its options.
ffmpeg_one() {
  local source=$1 out=$2 ext=$3
  shift 3
  local name=${source##*/}
  ffmpeg -nostdin -v error -y -threads 1 -i "$source" "$@" "$out/${name%.*}.$ext"
}
export -f ffmpeg_one

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '| format | orvik-convert -j 2 wall / CPU | ffmpeg one by one wall / CPU | ffmpeg xargs -P 2 wall / CPU | wall vs one by one | wall vs -P 2 | CPU vs ffmpeg |\n'
printf '|---|---|---|---|---|---|---|\n'
run_row() {
  local label=$1 ext=$2 ours=$3 theirs=$4
  local out="$work/out"
  rm -rf "$out" && mkdir -p "$out"
  # shellcheck disable=SC2086
  read -r ow oc < <(measure "$label, orvik-convert -j 2" "$convert" --config "$work/config.cfg" -q -j 2 $ours -o "$out" "$work/src")
  [[ $(find "$out" -type f | wc -l) == "$files" ]] || { echo "orvik-convert did not write $files files" >&2; exit 1; }
  rm -rf "$out" && mkdir -p "$out"
  # shellcheck disable=SC2016,SC2086
  read -r sw sc < <(measure "$label, ffmpeg one by one" bash -c 'for s in "$1"/src/*; do ffmpeg_one "$s" "${@:2}"; done' \
                      _ "$work" "$out" "$ext" $theirs)
  rm -rf "$out" && mkdir -p "$out"
  # shellcheck disable=SC2016,SC2086
  read -r pw pc < <(measure "$label, ffmpeg -P 2" bash -c 'ls "$1"/src/* | xargs -P 2 -I{} bash -c '"'"'ffmpeg_one "$@"'"'"' _ {} "${@:2}"' \
                      _ "$work" "$out" "$ext" $theirs)
  awk -v l="$label" -v ow="$ow" -v oc="$oc" -v sw="$sw" -v sc="$sc" -v pw="$pw" -v pc="$pc" 'BEGIN {
    printf "| %s | %.1f s / %.1f s | %.1f s / %.1f s | %.1f s / %.1f s | %.2f | %.2f | %.2f |\n",
      l, ow, oc, sw, sc, pw, pc, ow / sw, ow / pw, oc / ((sc + pc) / 2) }'
}
run_row "MP3 CBR 192" mp3 "-f mp3 --bitrate 192 --rate 44100 --channels 2" "-c:a libmp3lame -b:a 192k -compression_level 2"
run_row "Ogg quality 5" ogg "-f ogg --vbr 5 --rate 44100 --channels 2" "-c:a libvorbis -q:a 5"
run_row "WMA 128" wma "-f wma --bitrate 128" "-c:a wmav2 -b:a 128k"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -rf "$work/out"
