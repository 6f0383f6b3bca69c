#!/usr/bin/env bash
# An hour-long album image split into its 15 tracks: orvik-convert against shnsplit with the
# same encoders and settings, to FLAC and to MP3; see bench/README.md.
#
#   bench/bench_album.sh BUILD_DIR [WORK_DIR]
#
# Prints one row per output format: wall and CPU (user + system) seconds of each way, and
# their ratios. orvik-convert runs with -j 1, one conversion at a time, as shnsplit works.
set -euo pipefail

build=${1:?usage: bench/bench_album.sh BUILD_DIR [WORK_DIR]}
convert=$(realpath "$build/bin/orvik-convert")
work=${2:-$(mktemp -d /tmp/orvik-bench-album.XXXXXX)}
mkdir -p "$work/src"
minutes=${BENCH_MINUTES:-60}
tracks=15

# Pink noise under a chord, as in bench_cli.sh: material encoders work at. Kept for reruns.
image="$work/src/album.flac"
if [[ ! -e "$image" ]]; then
  seconds=$((minutes * 60 + 7))
  graph="anoisesrc=color=pink:amplitude=0.15:seed=3:r=44100:d=$seconds,pan=stereo|c0=c0|c1=c0[n];"
  graph+="sine=f=220:r=44100:d=$seconds,pan=stereo|c0=c0|c1=0.6*c0[a];"
  graph+="sine=f=275:r=44100:d=$seconds,pan=stereo|c0=0.6*c0|c1=c0[b];"
  graph+="[n][a][b]amix=inputs=3:normalize=0,volume=0.5"
  # Encoded by flac itself: shntool reads the image through `flac -d`, which turns the channel
  # mask FFmpeg's encoder stores into a WAVE_FORMAT_EXTENSIBLE header shntool refuses.
  ffmpeg -nostdin -v error -filter_complex "$graph" -c:a pcm_s16le -f wav - |
    flac -5 -s -o "$image" -
fi

# 15 tracks of equal length with a 2-second pregap before each but the first.
{
  echo 'PERFORMER "Bench"'
  echo 'TITLE "Hour"'
  echo 'FILE "album.flac" WAVE'
  for i in $(seq 1 $tracks); do
    start=$(( (i - 1) * minutes * 60 * 75 / tracks + 17 ))
    (( i == 1 )) && start=0
    printf '  TRACK %02d AUDIO\n    TITLE "Part %d"\n' "$i" "$i"
    if (( i > 1 )); then
      pre=$((start - 150))
      printf '    INDEX 00 %02d:%02d:%02d\n' $((pre / 4500)) $((pre / 75 % 60)) $((pre % 75))
    fi
    printf '    INDEX 01 %02d:%02d:%02d\n' $((start / 4500)) $((start / 75 % 60)) $((start % 75))
  done
} > "$work/src/album.cue"

cp "$(dirname "$0")/first-run.cfg" "$work/config.cfg"

measure() {
  local label=$1 times="$work/times"
  shift
  if ! /usr/bin/time -f '%e %U %S' -o "$times" "$@" >/dev/null 2>"$work/stderr"; then
    echo "failed: $*" >&2
    cat "$work/stderr" >&2
    kill $$
  fi
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$times"
  awk -v what="$label" '{ printf "  %s: wall %.2f s, CPU %.2f s\n", what, $1, $2 + $3 }' "$times" >&2
}

row() {
  local name=$1 ours theirs
  shift
  local -a orvik=("$convert" --config "$work/config.cfg" -j 1 --overwrite "$@")
  rm -rf "$work/out-$name" "$work/shn-$name"
  mkdir -p "$work/out-$name" "$work/shn-$name"
  ours=$(measure "orvik-convert $name" "${orvik[@]}" -o "$work/out-$name" "$work/src/album.cue")
  theirs=$(measure "shnsplit $name" shnsplit -q -O always -f "$work/src/album.cue" -d "$work/shn-$name" \
           -o "$shn" "$image")
  local n1 n2
  n1=$(find "$work/out-$name" -type f | wc -l)
  n2=$(find "$work/shn-$name" -type f | wc -l)
  read -r ow oc <<<"$ours"
  read -r tw tc <<<"$theirs"
  awk -v n="$name" -v ow="$ow" -v oc="$oc" -v tw="$tw" -v tc="$tc" -v n1="$n1" -v n2="$n2" \
    'BEGIN { printf "%-5s tracks %d/%d  orvik-convert wall %7.2f CPU %7.2f  shnsplit wall %7.2f CPU %7.2f  ratio wall %.2f CPU %.2f\n", n, n1, n2, ow, oc, tw, tc, ow / tw, oc / tc }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
shn='flac flac -5 -s -o %f -'
row flac -f flac --level=5 --rate=44100 --channels=2
# LAME through ffmpeg (the lame program is not installed here): CBR 192, algorithm quality 2,
# as the converter sets the library.
shn='cust ext=mp3 ffmpeg -nostdin -v error -threads 1 -f wav -i - -c:a libmp3lame -b:a 192k -compression_level 2 %f'
row mp3 -f mp3 --bitrate=192 --rate=44100 --channels=2
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
