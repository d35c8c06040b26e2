// Feeds arbitrary text to the cue sheet parser, with the test images in a
// scratch folder as the sheet's folder. A sheet either raises an error record
// or yields a layout that agrees with itself; anything else stops the run.
// The text of any encoding reads as well-formed UTF-8, and so does every
// text the layout keeps.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "layout/cue_encoding.h"
#include "layout/cue_sheet.h"
#include "support/cue_images.h"
#include "support/scratch.h"

namespace {

// The images, removed with their folder when the run ends.
const std::string& image_folder() {
  static const ScratchDirectory folder;
  return folder.path();
}

void check_layout(const CueSheetLayout& sheet) {
  const DiscLayout& layout = *sheet.layout;
  if (layout.cuepoint_count < 2 || layout.cuepoint_count > MAX_CUEPOINTS) std::abort();
  if (layout.track_count == 0 || layout.track_count > MAX_TRACKS) std::abort();
  if (sheet.total_frames != layout.leadout_position) std::abort();
  if (layout.cuepoints[layout.cuepoint_count - 1].track != LEADOUT_TRACK) std::abort();
  for (unsigned i = 1; i < layout.cuepoint_count; ++i)
    if (cuepoint_frames(layout.cuepoints[i]) < cuepoint_frames(layout.cuepoints[i - 1]))
      std::abort();
  uint64_t frames = 0;
  for (unsigned i = 0; i < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    frames += uint64_t{track.pregap} + track.length + track.postgap;
  }
  if (frames != uint64_t{layout.leadout_position} + 150) std::abort();
  uint64_t bytes = 0;
  // The frames the files hold of each track add up to its length.
  std::vector<uint64_t> held(layout.track_count, 0);
  for (std::size_t f = 0; f < sheet.files.size(); ++f) {
    const ImageFile& file = sheet.files[f];
    if (file.track_count == 0 || file.first_track >= layout.track_count) std::abort();
    if (file.first_track + file.track_count > layout.track_count) std::abort();
    if (file.track_frames.size() != file.track_count) std::abort();
    const bool next_continues =
        f + 1 < sheet.files.size() && sheet.files[f + 1].first_track_continued;
    if (file.last_track_goes_on != next_continues) std::abort();
    for (unsigned t = 0; t < file.track_count; ++t)
      held[file.first_track + t] += file.track_frames[t];
    bytes += file.data_length;
  }
  for (unsigned i = 0; i < layout.track_count; ++i) {
    if (held[i] != layout.tracks[i].length) std::abort();
    if (i > 0 && layout.tracks[i].session < layout.tracks[i - 1].session) std::abort();
    for (const SheetText& text : layout.track_texts[i])
      if (!is_utf8(text.value) || text.keyword.empty()) std::abort();
  }
  for (const SheetText& text : layout.disc_texts)
    if (!is_utf8(text.value) || text.keyword.empty()) std::abort();
  if (bytes != sheet.total_image_bytes || sheet.files.size() != sheet.file_count) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  write_cue_fixture_images(image_folder());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (!is_utf8(cue_text_as_utf8(text))) std::abort();
  try {
    auto sheet = parse_cue_sheet_text(text, image_folder());
    check_layout(*sheet);
    free_cue_sheet(sheet);
  } catch (const MSGVEC& record) {
    if (message_vector_text(record).empty()) std::abort();
  }
  return 0;
}
