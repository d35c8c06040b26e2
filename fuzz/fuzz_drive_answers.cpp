// A drive that answers every command with bytes of the fuzz input: its
// status, sense, the count of bytes it moves and the bytes themselves. The
// reader reads the table of contents (with modes, catalog number and ISRC
// codes as the first byte asks), searches the last readable sector and
// dumps the mode pages and reads the CD-TEXT. Each either raises an error record or gives a result
// that agrees with itself; anything else stops the run.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/console.h"
#include "common/msgvec.h"
#include "drivers/cd_reader.h"
#include "drivers/cd_text_reading.h"
#include "layout/cue_writer.h"
#include "scsi/transport.h"
#include "tools/discinfo/disc_info.h"

namespace {

// Hands out the fuzz input byte by byte; zeros once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t word() { return static_cast<uint16_t>(byte() << 8 | byte()); }
  void bytes(uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = byte();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class FuzzedDrive : public ScsiTransport {
 public:
  explicit FuzzedDrive(Input* input) : input_(input) {}
  bool open() override { return true; }
  uint8_t adapter_count() const override { return 1; }
  void execute(ScsiRequest& request) override {
    const uint8_t how = input_->byte();
    request.ha_status = HASTAT_OK;
    request.target_status = STATUS_GOOD;
    request.srb_status = SS_COMP;
    switch (how % 4) {
      case 0: break;
      case 1:  // CHECK CONDITION with a sense key and flags of the input
        request.srb_status = SS_ERR;
        request.target_status = STATUS_CHECK_CONDITION;
        request.sense_area[0] = 0x70;
        request.sense_area[2] = input_->byte();
        request.sense_area[12] = input_->byte();
        break;
      case 2:
        request.srb_status = SS_ERR;
        request.target_status = STATUS_BUSY;
        break;
      default:
        request.srb_status = SS_ERR;
        request.ha_status = input_->byte();
        break;
    }
    // Some bytes moved, maybe all, maybe more than there was room for.
    uint32_t moved = request.buffer_length;
    if (how & 0x80) moved = input_->word();
    request.transferred = moved;
    if (request.direction() == SRB_DIR_IN && request.buffer != nullptr)
      input_->bytes(request.buffer, std::min(moved, request.buffer_length));
  }

 private:
  Input* input_;
};

void check_toc(const DiscLayout& layout) {
  const unsigned count = layout.track_count;
  if (count == 0 || count > MAX_TRACKS) std::abort();
  if (layout.first_track != layout.tracks[0].track_number) std::abort();
  for (unsigned i = 0; i < count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    if (track.track_number == 0 || track.track_number > MAX_TRACKS) std::abort();
    if (i > 0 && (track.track_number <= layout.tracks[i - 1].track_number ||
                  track.start <= layout.tracks[i - 1].start))
      std::abort();
  }
  const TrackEntry& leadout = layout.tracks[count];
  if (leadout.track_number != LEADOUT_TRACK || leadout.start != layout.leadout_position)
    std::abort();
  if (layout.leadout_position <= layout.tracks[count - 1].start) std::abort();
  if (layout.leadout_position > MAX_ABSOLUTE_FRAMES - 150) std::abort();
  // Every line of the listing has its columns: 77 characters, 76 with an ISRC.
  for (unsigned i = 0; i < count; ++i) {
    const std::size_t width = (layout.tracks[i].track_flags & TRACK_ISRC) ? 76 : 77;
    if (disc_info_track_line(layout.tracks[i]).size() != width) std::abort();
  }
}

template <typename Body>
void expect_result_or_record(Body body) {
  try {
    body();
  } catch (const MSGVEC& record) {
    if (message_vector_text(record).empty()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  set_sleep_function([](unsigned) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  const uint8_t choices = input.byte();
  install_scsi_transport(std::make_unique<FuzzedDrive>(&input));
  CdReader reader;
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  expect_result_or_record([&] {
    reader.ReadDiscToc(layout.get(), choices & 1, choices & 2, choices & 4);
    check_toc(*layout);
  });
  expect_result_or_record([&] { reader.FindLastReadableSector(choices & 8); });
  expect_result_or_record([&] { reader.FindLastReadableDataSector(choices & 0x10 ? 2048 : 2340); });
  expect_result_or_record([&] { read_mode_page_dump(reader); });
  // CD-TEXT: the decoded texts fit the tracks, and the listing and the sheet take them.
  expect_result_or_record([&] {
    CdTextContents contents;
    read_disc_cd_text(reader, &contents, layout.get());
    for (const CdTextBlock& block : contents.blocks)
      for (const SheetText& text : block.tracks[0])
        if (!text.keyword.empty()) std::abort();  // track 0 is the disc's
    cd_text_listing(contents);
    cue_sheet_text(*layout, nullptr);
  });
  install_scsi_transport(nullptr);
  return 0;
}
