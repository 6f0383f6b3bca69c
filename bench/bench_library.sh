#!/usr/bin/env bash
# orvik-convert -r -j 2 -o over a generated library of 1,500 short files (artist/album/track,
# the same track names in every album, a few albums holding one name twice in two formats),
# against ffmpeg file by file into the same mirrored tree; then the same command again, which
# must skip everything. See bench/README.md.
#
#   bench/bench_library.sh BUILD_DIR [WORK_DIR]
#
# Prints wall and CPU (user + system, /usr/bin/time) seconds of each way, the wall ratio, and the resident
# memory of the orvik-convert parent process sampled through the run (it must stay flat).
set -euo pipefail

build=${1:?usage: bench/bench_library.sh BUILD_DIR [WORK_DIR]}
convert=$(realpath "$build/bin/orvik-convert")
work=${2:-$(mktemp -d /tmp/orvik-library.XXXXXX)}
artists=${BENCH_ARTISTS:-30}   # x 5 albums x 10 tracks
seconds=${BENCH_SECONDS:-5}
lib="$work/library"

# Eight distinct sources (four kinds, four rates), copied all over the tree: the work per file
# is what counts, not that every file differs.
mkdir -p "$work/base"
kinds=("mp3:44100:-c:a libmp3lame -b:a 192k" "ogg:48000:-c:a libvorbis -q:a 4"
       "flac:22050:-c:a flac" "wav:32000:-c:a pcm_s16le"
       "mp3:32000:-c:a libmp3lame -b:a 128k" "ogg:22050:-c:a libvorbis -q:a 3"
       "flac:48000:-c:a flac" "wav:44100:-c:a pcm_s16le")
for k in "${!kinds[@]}"; do
  IFS=: read -r ext rate opts <<< "${kinds[$k]}"
  [[ -e "$work/base/$k.$ext" ]] && continue
  # shellcheck disable=SC2086
  ffmpeg -nostdin -v error -f lavfi -i "sine=f=$((220 + 40 * k)):r=$rate:d=$seconds" \
    -f lavfi -i "anoisesrc=c=pink:r=$rate:a=0.1:d=$seconds" -filter_complex amix=inputs=2 \
    -ac 2 $opts "$work/base/$k.$ext"
done
if [[ ! -d "$lib" ]]; then
  for a in $(seq -w 1 "$artists"); do
    for b in 1 2 3 4 5; do
      album="$lib/Artist $a/Album $b"
      mkdir -p "$album"
      for t in $(seq -w 1 10); do
        k=$(( (10#$a + b + 10#$t) % 8 ))
        IFS=: read -r ext _ <<< "${kinds[$k]}"
        cp "$work/base/$k.$ext" "$album/$t Track.$ext"
      done
      # One album in ten holds "01 Track" twice, as WAV and as something else.
      if (( 10#$a % 10 == 0 && b == 1 )); then
        [[ -e "$album/01 Track.wav" ]] || cp "$work/base/3.wav" "$album/01 Track.wav"
      fi
    done
  done
fi
files=$(find "$lib" -type f | wc -l)

cp "$(dirname "$0")/first-run.cfg" "$work/config.cfg"

# timed OUT_TIMES COMMAND...: wall, user, system seconds into OUT_TIMES.
timed() {
  local times=$1
  shift
  /usr/bin/time -f '%e %U %S' -o "$times" "$@" > /dev/null 2> "$times.err" || true
}

echo "library: $files files of $seconds s in $(find "$lib" -type d | wc -l) folders"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

out="$work/out"
rm -rf "$out"
# The parent's resident memory, sampled every half second while it runs.
/usr/bin/time -f '%e %U %S' -o "$work/ours.times" "$convert" --config "$work/config.cfg" -q -r \
  -j 2 -f mp3 --bitrate 192 -o "$out" "$lib" > /dev/null 2> "$work/ours.err" &
timer=$!
pid=""
while [[ -z $pid ]] && kill -0 "$timer" 2> /dev/null; do pid=$(pgrep -P "$timer" || true); done
samples=()
while [[ -n $pid ]] && kill -0 "$pid" 2> /dev/null; do
  rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status" 2> /dev/null || true)
  [[ -n $rss ]] && samples+=("$rss")
  sleep 0.5
done
wait "$timer" || true
read -r ours_wall o_user o_sys < <(tail -1 "$work/ours.times")
ours_cpu=$(echo "$o_user + $o_sys" | bc)
written=$(find "$out" -type f | wc -l)
reported=$(grep -c 'is also the output of' "$work/ours.err" || true)

rm -rf "$out.ffmpeg"
# shellcheck disable=SC2016
timed "$work/ffmpeg.times" bash -c '
  lib=$1 out=$2
  find "$lib" -type f | sort | while IFS= read -r s; do
    rel=${s#"$lib"/}
    mkdir -p "$out/${rel%/*}"
    ffmpeg -nostdin -v error -n -threads 1 -i "$s" -c:a libmp3lame -b:a 192k -compression_level 2 \
      -ar 44100 -ac 2 "$out/${rel%.*}.mp3" < /dev/null || true
  done' _ "$lib" "$out.ffmpeg"
read -r f_wall f_user f_sys < <(tail -1 "$work/ffmpeg.times")

timed "$work/rerun.times" "$convert" --config "$work/config.cfg" -q --skip-existing -r -j 2 -f mp3 \
  --bitrate 192 -o "$out" "$lib"
read -r r_wall r_user r_sys < <(tail -1 "$work/rerun.times")
rewritten=$(find "$out" -type f -newer "$work/ffmpeg.times" | wc -l)

printf 'orvik-convert -j 2: wall %.1f s, CPU %.1f s; %d outputs, %d collisions reported\n' \
  "$ours_wall" "$ours_cpu" "$written" "$reported"
printf 'ffmpeg file by file: wall %.1f s, CPU %.1f s\n' "$f_wall" "$(echo "$f_user + $f_sys" | bc)"
printf 'wall ratio: %.2f\n' "$(echo "$ours_wall / $f_wall" | bc -l)"
printf 'rerun (--skip-existing): wall %.2f s, CPU %.2f s, %d outputs rewritten\n' \
  "$r_wall" "$(echo "$r_user + $r_sys" | bc)" "$rewritten"
n=${#samples[@]}
printf 'parent RSS (KiB) over %d samples: first %s, at a quarter %s, half %s, last %s, max %s\n' \
  "$n" "${samples[0]}" "${samples[$((n / 4))]}" "${samples[$((n / 2))]}" "${samples[$((n - 1))]}" \
  "$(printf '%s\n' "${samples[@]}" | sort -n | tail -1)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
