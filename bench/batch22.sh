# Sourced by the benchmarks that convert the 22-file batch: the sources they share.
# Needs $window (bench_window, which writes the MIDI song and the module) and $work.

# Pink noise under a chord: material encoders work at. tone NAME SECONDS RATE CODEC-OPTIONS
tone() {
  local out=$1 seconds=$2 rate=$3 f=$((180 + RANDOM % 200))
  shift 3
  [[ -e $out ]] && return
  local graph="anoisesrc=color=pink:amplitude=0.15:seed=$f:r=$rate:d=$seconds,pan=stereo|c0=c0|c1=c0[n];"
  graph+="sine=f=$f:r=$rate:d=$seconds,pan=stereo|c0=c0|c1=0.6*c0[a];"
  graph+="sine=f=$((f * 3 / 2)):r=$rate:d=$seconds,pan=stereo|c0=0.6*c0|c1=c0[b];"
  graph+="[n][a][b]amix=inputs=3:normalize=0,volume=0.5"
  ffmpeg -nostdin -v error -filter_complex "$graph" "$@" "$out"
}

# make_batch22 FOLDER: 20 songs of 24 s at five rates in the four source formats, a MIDI
# song and a module of about a minute; what is there already is kept.
make_batch22() {
  local folder=$1 rates=(11025 22050 32000 44100 48000) i rate
  mkdir -p "$folder"
  for i in $(seq 0 19); do
    rate=${rates[i % 5]}
    case $((i % 4)) in
      0) tone "$folder/s$i.wav" 24 "$rate" -c:a pcm_s16le ;;
      1) tone "$folder/s$i.mp3" 24 "$rate" -c:a libmp3lame -b:a 128k ;;
      2) tone "$folder/s$i.ogg" 24 "$rate" -c:a libvorbis -q:a 4 ;;
      3) tone "$folder/s$i.wma" 24 "$((rate < 22050 ? 22050 : rate))" -c:a wmav2 -b:a 128k ;;
    esac
  done
  [[ -e $folder/song.mid ]] || "$window" --make-songs "$folder" 1
}

# config FORMAT OUTPUT_FOLDER OGG_RATE [REPLAYGAIN] > FILE: first-run settings but for
# these; REPLAYGAIN (0 off, 1 track, 2 album) adds the sections that follow the described ones.
config() {
  printf '[Main]\nOutputFormat=%s\n[WAVOptions]\nFreq=44100\nNumChannels=2\n' "$1"
  printf '[OGGOptions]\nFreq=%s\nNumChannels=2\nBitrate=192\nUseVBR=1\nQuality=5\n' "$3"
  printf '[MP3Options]\nFreq=44100\nNumChannels=2\nBitrate=192\nUseVBR=0\nQuality=5\n'
  printf '[WMAOptions]\nBitrate=128\nUseVBR=0\nQuality=4\n'
  printf '[Files]\nOutputFolder=%s\nOutputName=0\nDelete=0\n[Messages]\nReadOnlyWarn=0' "$2"
  if [[ -n ${4:-} ]]; then
    printf '\n[FLACOptions]\nFreq=44100\nNumChannels=2\nLevel=5\n'
    printf '[OpusOptions]\nNumChannels=2\nBitrate=128\nUseVBR=1\n[LoudnessOptions]\nReplayGain=%s' "$4"
  fi
}

# timed COMMAND...: "WALL CPU" of the command (CPU = user + system of its process tree); what
# it printed goes to $work/said.
timed() {
  /usr/bin/time -f '%e %U %S' -o "$work/times" "$@" > "$work/said" 2>/dev/null || {
    echo "failed: $*" >&2
    exit 1
  }
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/times"
}
