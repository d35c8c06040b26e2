#include "layout/listing.h"

#include "common/console.h"
#include "common/timecode.h"

namespace {

constexpr unsigned ROWS_PER_PAGE = 16;
// Indexes shorter than four seconds are flagged.
constexpr uint32_t MIN_INDEX_FRAMES = 300;

}  // namespace

void list_layout(const DiscLayout& layout, bool paging, bool warnings) {
  out_text("\n");
  out_text("              Start     Length   Start   Length\n");
  out_text("TRACK INDEX  MM:SS:FF  MM:SS:FF   LBA     LBA\n");
  out_text("----- -----  --------  --------   ---     ---\n");

  Pager pager(ROWS_PER_PAGE, paging);
  bool warned = false;
  const unsigned count = layout.cuepoint_count;
  for (unsigned i = 1; i + 1 < count && layout.cuepoints[i].track != LEADOUT_TRACK; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    const uint32_t length = cuepoint_distance(point, layout.cuepoints[i + 1]);
    const auto start_lba = static_cast<int32_t>(cuepoint_frames(point)) - LBA_OFFSET_FRAMES;
    pager.before_row();
    const uint8_t index = bcd_to_bin(point.index);
    out_text(format_text(" %02u    %02u    %02u:%02u:%02u  %02u:%02u:%02u  %06lu  %06lu\n",
                         bcd_to_bin(point.track), index, point.minute, point.second, point.frame,
                         length / 4500, (length % 4500) / 75, length % 75,
                         static_cast<unsigned long>(static_cast<uint32_t>(start_lba)),
                         static_cast<unsigned long>(length)));
    if (warnings && index != 0 && length < MIN_INDEX_FRAMES) {
      out_text("    (Warning! Index is shorter than four seconds)\n");
      warned = true;
    }
  }
  if (warnings && warned) {
    out_text("\nWARNING: This disc layout contains at least one track/index\n");
    out_text("that is shorter than four seconds. This is a violation of the\n");
    out_text("CDROM specification.\n");
  }
}

bool exceeds_disc_length(uint32_t total_frames) { return total_frames > MAX_DISC_FRAMES; }

void check_disc_length(const DiscLayout& layout, bool confirm) {
  if (!exceeds_disc_length(layout.leadout_position)) return;
  const MsfTime end = lba_to_msf(static_cast<int32_t>(layout.leadout_position));
  err_text(format_text("WARNING! Total disc time (%02u:%02u:%02u) exceeds 74 minutes!\n",
                       end.minute, end.second, end.frame));
  if (!confirm) return;
  confirm_prompt("Hit <RETURN> to continue (or CTRL/C to exit)...");
}

bool warn_long_source_disc(uint32_t last_lba) {
  if (last_lba <= MAX_DISC_FRAMES) return false;
  err_text("\nWARNING: Disc is longer than 74 minutes!\n");
  return true;
}
