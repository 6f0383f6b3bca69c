#!/usr/bin/env bash
# The window against orvik-convert -j 1, ffmpeg and fluidsynth, in one run; see
# bench/README.md.
#
#   bench/bench_window.sh BUILD_DIR [WORK_DIR]
#
# Rows: a 3-minute song to each format (the window, orvik-convert -j 1, ffmpeg with the
# same encoder settings); a 22-file batch to Ogg Vorbis at 48000 Hz, quality 5 (the window
# against orvik-convert -j 1); a 3-minute MIDI song to WAV against fluidsynth -F with the
# synthesiser settings of the converter. Each window row gives the longest time between
# two event processings. With BENCH_LONG=1 also an hour-long MIDI song, a 33-minute module
# and an hour-long WAV in one batch, for that longest time.
#
# Conversions at once: eight 3-minute sources (WAV at 44100 and 48000 Hz, MP3 by LAME at V2
# and 256 kbit/s, Ogg by oggenc at q6 and q4, FLAC at 44100 and 48000 Hz) to Ogg Vorbis q5
# at 44100 Hz, and the 22-file batch: the window at its default number of conversions at
# once (one per core) against orvik-convert -j N and ffmpeg file by file, and the window at
# one conversion at a time against orvik-convert -j 1. BENCH_ROWS=jobs runs only these
# tables; BENCH_ROWS=single all but these.
set -euo pipefail

build=${1:?usage: bench/bench_window.sh BUILD_DIR [WORK_DIR]}
convert=$(realpath "$build/bin/orvik-convert")
window=$(realpath "$build/bench/bench_window")
work=${2:-$(mktemp -d /tmp/orvik-bench-window.XXXXXX)}
soundfont=/usr/share/sounds/sf2/default-GM.sf2
mkdir -p "$work/one" "$work/batch" "$work/prog"

source "$(dirname "$0")/batch22.sh"

rows=${BENCH_ROWS:-all}
cores=$(nproc)
tone "$work/one/song.wav" 180 44100 -c:a pcm_s16le
[[ -e $work/one/song.mid ]] || "$window" --make-songs "$work/one" 3
make_batch22 "$work/batch"

# The eight sources of the conversions-at-once rows, made by the usual encoders.
if [[ $rows != single ]]; then
  mkdir -p "$work/eight"
  e=$work/eight
  tone "$e/a44.wav" 180 44100 -c:a pcm_s16le
  tone "$e/a48.wav" 180 48000 -c:a pcm_s16le
  # LAME through ffmpeg (the lame front end is not installed): -q:a 2 is its V2.
  [[ -e $e/v2.mp3 ]] || ffmpeg -nostdin -v error -i "$e/a44.wav" -c:a libmp3lame -q:a 2 "$e/v2.mp3"
  [[ -e $e/cbr256.mp3 ]] || ffmpeg -nostdin -v error -i "$e/a48.wav" -c:a libmp3lame -b:a 256k "$e/cbr256.mp3"
  [[ -e $e/q6.ogg ]] || oggenc -Q -q 6 -o "$e/q6.ogg" "$e/a44.wav"
  [[ -e $e/q4.ogg ]] || oggenc -Q -q 4 -o "$e/q4.ogg" "$e/a48.wav"
  [[ -e $e/f44.flac ]] || flac -s -o "$e/f44.flac" "$e/a44.wav"
  [[ -e $e/f48.flac ]] || flac -s -o "$e/f48.flac" "$e/a48.wav"
fi

# window FORMAT OGG_RATE FILE...: "WALL CPU GAP" of the window converting FILE..., GAP the
# longest time between two event processings in ms, "wall/processor time", and how many
# gaps were longer than 100 ms. JOBS in the environment: conversions at once (else the
# settings' default).
window_row() {
  local format=$1 rate=$2
  shift 2
  rm -rf "$work/out" && mkdir -p "$work/out"
  {
    config "$format" "$work/out" "$rate"
    [[ -z ${JOBS:-} ]] || printf '\n[BatchOptions]\nJobs=%s' "$JOBS"
  } > "$work/window.cfg"
  local t
  t=$(timed "$window" "$work/window.cfg" "$work/prog" "$@")
  echo "$t $(sed -n 's/.*longest gap \([0-9.]*\) ms.*over 100 ms \([0-9]*\), longest processor time between two \([0-9.]*\) ms.*/\1\/\3 (\2_over_100)/p' "$work/said")"
}

# cli FORMAT OGG_RATE FILE...: "WALL CPU" of orvik-convert -j JOBS (1 unless set).
cli_row() {
  local format=$1 rate=$2
  shift 2
  rm -rf "$work/out" && mkdir -p "$work/out"
  config "$format" "" "$rate" > "$work/cli.cfg"
  timed "$convert" --config "$work/cli.cfg" -q -j "${JOBS:-1}" -o "$work/out" "$@"
}

# ffmpeg_files OGG_RATE FILE...: "WALL CPU" of ffmpeg converting FILE... to Ogg Vorbis q5, one
# file after the other, as a user's loop would. ffmpeg reads no MIDI: a MIDI song is left out
# (the table says how many files ffmpeg converted).
ffmpeg_files() {
  local rate=$1
  shift
  rm -rf "$work/out" && mkdir -p "$work/out"
  local list=$work/ffmpeg-files
  printf '%s\n' "$@" | grep -v '\.mid$' > "$list"
  timed bash -c 'while IFS= read -r f; do
      n=${f##*/}
      ffmpeg -nostdin -v error -y -i "$f" -c:a libvorbis -q:a 5 -ar "$1" -ac 2 "$2/${n%.*}.ogg" || exit 1
    done < "$3"' _ "$rate" "$work/out" "$list"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
load() { cut -d' ' -f1 /proc/loadavg; }

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg), $cores cores"
if [[ $rows != single ]]; then
  for batch in eight batch; do
    case $batch in
      eight) name="8 three-minute sources to Ogg 44100 Hz q5"; rate=44100 ;;
      batch) name="22-file batch to Ogg 48000 Hz q5"; rate=48000 ;;
    esac
    files=("$work/$batch"/*)
    echo
    echo "| $name | window (N = $cores) wall / CPU | orvik-convert -j $cores wall / CPU | ffmpeg file by file wall / CPU | window / orvik-convert wall | window N = 1 wall / CPU | orvik-convert -j 1 wall / CPU | window / orvik-convert wall at 1 | longest gap wall / CPU ms (gaps > 100 ms), N = $cores | load |"
    echo "|---|---|---|---|---|---|---|---|---|---|"
    l=$(load)
    read -r ww wc wg < <(window_row ogg "$rate" "${files[@]}")
    read -r cw cc < <(JOBS=$cores cli_row ogg "$rate" "${files[@]}")
    read -r fw fc < <(ffmpeg_files "$rate" "${files[@]}")
    read -r w1 c1 g1 < <(JOBS=1 window_row ogg "$rate" "${files[@]}")
    read -r cw1 cc1 < <(JOBS=1 cli_row ogg "$rate" "${files[@]}")
    echo "| ${#files[@]} files | $ww s / $wc s | $cw s / $cc s | $fw s / $fc s ($(grep -vc '\.mid$' <(printf '%s\n' "${files[@]}")) files) | $(ratio "$ww" "$cw") | $w1 s / $c1 s | $cw1 s / $cc1 s | $(ratio "$w1" "$cw1") | ${wg//_/ } | $l / $(load) |"
  done
fi
[[ $rows != jobs ]] || exit 0
# The rows below compare one conversion at a time.
export JOBS=1

echo
echo "| 3-minute song to | window wall / CPU | orvik-convert -j 1 wall / CPU | ffmpeg wall / CPU | window / orvik-convert (CPU) | window / ffmpeg (CPU) | longest gap wall / CPU ms (gaps > 100 ms) | load |"
echo "|---|---|---|---|---|---|---|---|"
declare -A ffopts=(
  [mp3]="-c:a libmp3lame -b:a 192k -compression_level 2"
  [ogg]="-c:a libvorbis -q:a 5"
  [wma]="-c:a wmav2 -b:a 128k"
  [wav]="-c:a pcm_s16le")
for format in mp3 ogg wma wav; do
  l=$(load)
  read -r ww wc wg < <(window_row "$format" 44100 "$work/one/song.wav")
  read -r cw cc < <(cli_row "$format" 44100 "$work/one/song.wav")
  rm -rf "$work/out" && mkdir -p "$work/out"
  # shellcheck disable=SC2086
  read -r fw fc < <(timed ffmpeg -nostdin -v error -y -threads 1 -i "$work/one/song.wav" ${ffopts[$format]} "$work/out/song.$format")
  echo "| $format | $ww s / $wc s | $cw s / $cc s | $fw s / $fc s | $(ratio "$wc" "$cc") | $(ratio "$wc" "$fc") | ${wg//_/ } | $l / $(load) |"
done

echo
echo "| 22-file batch to Ogg 48000 Hz q5 | window wall / CPU | orvik-convert -j 1 wall / CPU | window / orvik-convert wall | CPU | longest gap wall / CPU ms (gaps > 100 ms) | load |"
echo "|---|---|---|---|---|---|---|"
l=$(load)
read -r ww wc wg < <(window_row ogg 48000 "$work"/batch/*)
read -r cw cc < <(cli_row ogg 48000 "$work"/batch/*)
echo "| $(ls "$work/batch" | wc -l) files | $ww s / $wc s | $cw s / $cc s | $(ratio "$ww" "$cw") | $(ratio "$wc" "$cc") | ${wg//_/ } | $l / $(load) |"

echo
echo "| 3-minute MIDI song to WAV | window wall / CPU | orvik-convert -j 1 wall / CPU | fluidsynth -F wall / CPU | window / fluidsynth (CPU) | orvik-convert / fluidsynth (CPU) | longest gap wall / CPU ms (gaps > 100 ms) | load |"
echo "|---|---|---|---|---|---|---|---|"
l=$(load)
read -r ww wc wg < <(window_row wav 44100 "$work/one/song.mid")
read -r cw cc < <(cli_row wav 44100 "$work/one/song.mid")
# The converter's synthesiser: 44100 Hz, gain 0.3, one core, samples loaded as presets ask.
read -r fw fc < <(timed fluidsynth -n -i -q -F "$work/out/fluid.wav" -r 44100 -g 0.3 \
  -o synth.dynamic-sample-loading=1 -o synth.cpu-cores=1 -o synth.lock-memory=0 \
  "$soundfont" "$work/one/song.mid")
echo "| song.mid | $ww s / $wc s | $cw s / $cc s | $fw s / $fc s | $(ratio "$wc" "$fc") | $(ratio "$cc" "$fc") | ${wg//_/ } | $l / $(load) |"

if [[ ${BENCH_LONG:-0} == 1 ]]; then
  mkdir -p "$work/long"
  [[ -e $work/long/song.mid ]] || "$window" --make-songs "$work/long" 60
  tone "$work/long/hour.wav" 3600 44100 -c:a pcm_s16le
  echo
  echo "| long batch (1 h MIDI, 33 min module, 1 h WAV) to | window wall / CPU | longest gap wall / CPU ms (gaps > 100 ms) | load |"
  echo "|---|---|---|---|"
  for format in ogg wav; do
    l=$(load)
    read -r ww wc wg < <(window_row "$format" 44100 "$work"/long/*)
    echo "| $format | $ww s / $wc s | ${wg//_/ } | $l / $(load) |"
  done
fi
