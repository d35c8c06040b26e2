// The checks that read the disc through the recorder around a recording:
// what it holds before, whether the recording fits, the read-back of its
// table of contents afterwards, and the plain words for the refusals a
// recorder gives when the disc cannot take a recording.
#include <string>
#include <vector>

#include "common/console.h"
#include "common/msgvec.h"
#include "common/timecode.h"
#include "engine/recording.h"
#include "layout/listing.h"

namespace {

// Sense codes of a recorder that refuses to write the disc in it.
struct Refusal {
  uint8_t asc;
  uint8_t ascq;
  const char* text;
};
constexpr Refusal REFUSALS[] = {
    {0x30, 0x05,
     "The disc in the CD-Recorder cannot be recorded: it is closed, or not a recordable disc"},
    {0x21, 0x00,
     "The recording is longer than the disc: the CD-Recorder refused a block past its end"},
};

// The absolute time of an LBA (of a length from LBA 0: where it ends, as
// the 74-minute warning shows the lead-out).
std::string time_text(int64_t lba) {
  return msf_text(static_cast<int32_t>(lba + LBA_OFFSET_FRAMES));
}

[[noreturn]] void read_back_failed(const std::string& what) {
  raise_message(MSG_TEXT, 1, 0, 0, "The CD-Recorder reported success, but " + what);
}

}  // namespace

uint8_t last_track_on_disc(RecorderDriver& recorder) {
  // A drive that never becomes ready is reported as such.
  recorder.TestUnitReady(true);
  uint8_t last = 0;
  recorder.CheckNamed(recorder.ReadLastTrack(&last), "READ TOC", true);
  return last;
}

void fit_first_track(const RecorderDriver& recorder, DiscLayout* layout, bool warnings) {
  if (layout->track_count == 0) return;
  const std::vector<SentTrack> sent = sent_tracks(*layout);
  if (sent[0].start > 0 && !recorder.RecordsLongFirstPregap())
    raise_message(
        MSG_TEXT, 1, 0, 0,
        format_text("The CD-Recorder cannot record audio before track 1 (track %02u's "
                    "INDEX 01 is at LBA %lld; the drive makes the first pregap itself)",
                    layout->tracks[0].track_number, static_cast<long long>(sent[0].start)));
  const uint8_t first = layout->tracks[0].track_number;
  if (first <= 1 || recorder.KeepsFirstTrackNumber()) return;
  if (warnings)
    err_text(format_text(
        "WARNING! The CD-Recorder numbers the tracks from 01: tracks %02u to "
        "%02u are recorded as 01 to %02u\n",
        first, layout->tracks[layout->track_count - 1].track_number, layout->track_count));
  renumber_tracks(layout, 1);
}

Capacity disc_capacity(RecorderDriver& recorder, uint32_t blocks, const char* what) {
  Capacity capacity;
  uint32_t free_blocks = 0;
  bool blank = false;
  if (!recorder.FreeBlocks(&free_blocks, &blank)) return capacity;
  capacity.known = true;
  capacity.fits = blocks <= free_blocks;
  capacity.comparison = format_text(
      "%s (%s) is longer than %s (%s)", what, time_text(blocks).c_str(),
      blank ? "the blank disc" : "the space left on the disc", time_text(free_blocks).c_str());
  return capacity;
}

namespace {

// Refuses a recording that does not fit, or with `overburn` warns of it.
void refuse_or_warn(const Capacity& capacity, bool overburn) {
  if (!capacity.known || capacity.fits) return;
  if (!overburn) raise_message(MSG_TEXT, 1, 0, 0, capacity.comparison);
  err_text("WARNING! " + capacity.comparison + ": recording past its end (/OVERBURN)\n");
}

}  // namespace

void check_free_blocks(RecorderDriver& recorder, uint32_t blocks, const char* what, bool overburn) {
  refuse_or_warn(disc_capacity(recorder, blocks, what), overburn);
}

std::vector<SentTrack> sent_tracks(const DiscLayout& layout) {
  std::vector<SentTrack> sent;
  for (unsigned t = 0; t < layout.track_count && t < MAX_TRACK_ENTRIES; ++t) {
    const TrackEntry& track = layout.tracks[t];
    SentTrack entry{0, (track.track_flags & TRACK_DATA) != 0, track.track_number};
    const uint8_t number = bin_to_bcd(track.track_number);
    for (unsigned i = 0; i < layout.cuepoint_count && i < layout.cuepoints.size(); ++i) {
      const CuePoint& point = layout.cuepoints[i];
      if (point.track == number && point.index == 1) {
        entry.start = msf_to_lba(point.minute, point.second, point.frame);
        break;
      }
    }
    sent.push_back(entry);
  }
  return sent;
}

void check_recorded_tracks(RecorderDriver& recorder, uint8_t tracks_before,
                           const std::vector<SentTrack>& sent) {
  if (sent.empty()) return;
  // A blank disc holds the layout's own numbers where the recorder kept them.
  const unsigned first =
      tracks_before == 0 && sent[0].number != 0 ? sent[0].number : tracks_before + 1u;
  const unsigned last = first + static_cast<unsigned>(sent.size()) - 1u;
  if (last_track_on_disc(recorder) < first)
    read_back_failed(format_text("the disc holds no track %u", first));
  DiscLayout disc;
  recorder.ReadDiscToc(&disc, false, false, false);
  // On a disc that held tracks before, the session starts where the drive
  // put it: the starts are compared from the first track recorded.
  int64_t shift = 0;
  for (unsigned i = 0; i < sent.size(); ++i) {
    const unsigned number = first + i;
    const TrackEntry* found = nullptr;
    for (unsigned t = 0; t < disc.track_count; ++t)
      if (disc.tracks[t].track_number == number) found = &disc.tracks[t];
    if (found == nullptr) read_back_failed(format_text("the disc holds no track %u", number));
    const bool data = (found->track_flags & TRACK_DATA) != 0;
    if (data != sent[i].data)
      read_back_failed(format_text("track %u is %s track, not the %s track that was sent", number,
                                   data ? "a data" : "an audio", sent[i].data ? "data" : "audio"));
    if (i == 0 && tracks_before != 0) shift = int64_t{found->start} - sent[0].start;
    const int64_t expected = sent[i].start + shift;
    if (found->start != expected)
      read_back_failed(format_text("track %u starts at %s, not at %s", number,
                                   time_text(found->start).c_str(), time_text(expected).c_str()));
  }
  const unsigned on_disc =
      disc.track_count == 0 ? 0 : disc.tracks[disc.track_count - 1].track_number;
  if (on_disc > last)
    read_back_failed(
        format_text("the disc holds track %u after the last track sent (%u)", on_disc, last));
}

void explain_recording_refusal(const RecorderDriver& recorder, MSGVEC* record) {
  if (record->code != MSG_COMMAND_FAILED || record->cause_code != MSG_ILLEGAL_REQUEST) return;
  for (const Refusal& refusal : REFUSALS) {
    if (recorder.last_sense[12] != refusal.asc || recorder.last_sense[13] != refusal.ascq) continue;
    record->cause_code = MSG_TEXT;
    record->cause_arg_count = 1;
    record->cause_args[0] = MsgArg(refusal.text);
    return;
  }
}

void check_layout_capacity(RecorderDriver& recorder, const DiscLayout& layout, bool confirm,
                           bool overburn) {
  const Capacity capacity = disc_capacity(recorder, layout.leadout_position, "The disc image");
  if (!capacity.known) {
    check_disc_length(layout, confirm);
    return;
  }
  refuse_or_warn(capacity, overburn);
}
