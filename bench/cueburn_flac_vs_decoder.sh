#!/usr/bin/env bash
# cueburn /NOCONFIRM of decoded albums to an emulated recorder, against the
# Debian decoder alone on the same files, run side by side (alternating, best
# of a few rounds each): the ratio of their times and cueburn's peak resident
# memory.
#   - a 74-minute album (73:48 in 12 tracks, 781 MB of CD audio: with the
#     first pregap it fills a 74-minute disc) as one FLAC file with its sheet,
#     against flac -d -c album.flac > /dev/null;
#   - the same album as 12 MP3 files, one a track, against
#     mpg123 -w /dev/null of the 12 files.
#   bench/cueburn_flac_vs_decoder.sh [build-dir] [rounds]
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/timing.sh"
build=$(realpath -m "${1:-$root/build-bench}")
build_program "$build" cueburn
rounds=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/cueburn-flac-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# 12 tracks of 369 seconds: music-like sound (pink noise with a
# few tones, different on the two channels) compresses as records do.
tracks=12
seconds=369
for t in $(seq -w 1 $tracks); do
  sox -n -r 44100 -b 16 -c 2 "$work/track$t.wav" synth $seconds pinknoise sine $((200 + 10#$t * 50)) \
      vol 0.3 2>/dev/null
done
sox "$work"/track*.wav "$work/album.wav"
flac -s -f "$work/album.wav" -o "$work/album.flac"
# Two encoders at a time: the set-up takes minutes otherwise.
seq -w 1 $tracks | xargs -P 2 -I{} lame --quiet --preset standard "$work/track{}.wav" "$work/track{}.mp3"
rm -f "$work"/*.wav

{
  echo "FILE album.flac WAVE"
  for t in $(seq 1 $tracks); do
    printf '  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:00\n' "$t" \
      $(( (t - 1) * seconds / 60 )) $(( (t - 1) * seconds % 60 ))
  done
} > "$work/flac.cue"
{
  for t in $(seq -w 1 $tracks); do
    printf 'FILE track%s.mp3 WAVE\n  TRACK %s AUDIO\n    INDEX 01 00:00:00\n' "$t" "$t"
  done
} > "$work/mp3.cue"

# Best time of the decoder and of cueburn for one sheet; cueburn's peak
# resident memory. Prints "decoder-ns cueburn-ns resident-kB".
compare() {
  local sheet=$1; shift
  local best_decoder=0 best_burn=0 rss=0 t kb
  for _ in $(seq "$rounds"); do
    t=$(cd "$work" && nanoseconds "$@")
    if [ "$best_decoder" = 0 ] || [ "$t" -lt "$best_decoder" ]; then best_decoder=$t; fi
    rm -f "$work"/burned.*
    t=$(cd "$work" && EMULATED_SCSI_BUS="0:4:0=CDD2000,medium=$work/burned" \
        nanoseconds /usr/bin/time -v -o "$work/time.txt" "$build/bin/cueburn" "$sheet" /NOCONFIRM)
    if [ "$best_burn" = 0 ] || [ "$t" -lt "$best_burn" ]; then best_burn=$t; fi
    kb=$(awk -F: '/Maximum resident/ {print $2 + 0}' "$work/time.txt")
    if [ "$kb" -gt "$rss" ]; then rss=$kb; fi
  done
  echo "$best_decoder $best_burn $rss"
}

mp3s=()
for t in $(seq -w 1 $tracks); do mp3s+=("track$t.mp3"); done
read -r flac_ns flac_burn flac_rss < <(compare flac.cue sh -c 'flac -s -d -c album.flac > /dev/null')
read -r mp3_ns mp3_burn mp3_rss < <(compare mp3.cue mpg123 -q -w /dev/null "${mp3s[@]}")
awk -v f="$flac_ns" -v fb="$flac_burn" -v fr="$flac_rss" -v m="$mp3_ns" -v mb="$mp3_burn" \
    -v mr="$mp3_rss" -v size="$(stat -c %s "$work/album.flac")" 'BEGIN {
  printf "album      73:48 in 12 tracks (781 MB of CD audio; FLAC file %d MB)\n", size / 1e6
  printf "flac -d    %.3f s\n", f / 1e9
  printf "cueburn    %.3f s, peak resident %.1f MB\n", fb / 1e9, fr / 1024
  printf "ratio      %.2f (cueburn / flac -d; target 1.15 or less, resident under 64 MB)\n", fb / f
  printf "mpg123     %.3f s (12 MP3 files)\n", m / 1e9
  printf "cueburn    %.3f s, peak resident %.1f MB\n", mb / 1e9, mr / 1024
  printf "ratio      %.2f (cueburn / mpg123 -w /dev/null; target 1.2 or less)\n", mb / m
}'
