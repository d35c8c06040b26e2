// Drives an emulated recorder with raw command bytes on an emulated bus, and
// says what the host sends and what a reader must get back.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "emulator/bus.h"
#include "engine/recording.h"
#include "layout/cue_sheet.h"
#include "scsi/device.h"
#include "support/sample_discs.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace cdm_test {

using Bytes = std::vector<uint8_t>;

struct Sense {
  uint8_t key = 0, asc = 0, ascq = 0;
  bool operator==(const Sense&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Sense& s) {
  return out << int(s.key) << "/" << std::hex << int(s.asc) << "/" << int(s.ascq) << std::dec;
}

// What a reader gets at one LBA of a recorded disc.
enum class Frame { Silence, Audio, EmptyMode1, Mode1, Mode2 };

inline Bytes reader_frame(Frame kind, int32_t lba) {
  switch (kind) {
    case Frame::Silence: return Bytes(RAW_SECTOR_SIZE, 0);
    case Frame::Audio: return sample_frame(TrackType::Audio, static_cast<uint32_t>(lba));
    case Frame::Mode1: return sample_frame(TrackType::Mode1, static_cast<uint32_t>(lba));
    case Frame::Mode2: return sample_frame(TrackType::Mode2, static_cast<uint32_t>(lba));
    case Frame::EmptyMode1: break;
  }
  Bytes frame(RAW_SECTOR_SIZE);
  build_sector(frame.data(), SECTOR_MODE1, lba, nullptr, nullptr, false, false, false);
  return frame;
}

// The same block as the family's driver sends it: data scrambled, then the
// bytes of every 16-bit word swapped.
inline Bytes host_frame(Frame kind, int32_t lba) {
  Bytes frame = reader_frame(kind, lba);
  const bool data = kind == Frame::EmptyMode1 || kind == Frame::Mode1 || kind == Frame::Mode2;
  transform_sector(frame.data(), true, false, data);
  return frame;
}

// The disc the engine tests record at once: an audio track with its codes,
// then Mode 1 with a pregap and Mode 2.
inline SampleDisc mixed_sample_disc() {
  SampleDisc sample;
  sample.catalog = "0731454032326";
  sample.tracks = {{TrackType::Audio, 200, 0, "USABC9600001", "DCP"},
                   {TrackType::Mode1, 150, 150, "", ""},
                   {TrackType::Mode2, 100, 0, "", ""}};
  return sample;
}

// Bytes of a catalog number as BCD pairs, the last low nibble 0.
inline Bytes catalog_bcd(const std::string& digits) {
  Bytes out(7, 0);
  for (std::size_t i = 0; i < 13; ++i)
    out[i / 2] |= static_cast<uint8_t>((digits[i] - '0') << (i % 2 ? 0 : 4));
  return out;
}

// A run of LBAs holding one kind of frame.
struct Segment {
  int32_t first;
  int32_t count;
  Frame kind;
};

// Audio track 1 (ISRC, copy permitted) of 100 frames; Mode 1 track 2 with a
// 150-frame pregap; Mode 2 track 3 without index 0 and with an index 2.
inline const std::vector<Segment> MIXED_PROGRAM = {{-150, 150, Frame::Silence},
                                                   {0, 100, Frame::Audio},
                                                   {100, 150, Frame::EmptyMode1},
                                                   {250, 60, Frame::Mode1},
                                                   {310, 60, Frame::Mode2}};

// WRITE SESSION's table for it.
inline Bytes mixed_table() {
  return {// track 1: 20 bytes, control 2 with ISRC "USABC9600001", index 1 at 0, ends at 100
          0x00, 0x14, 0x82, 'U' - 0x30, 'S' - 0x30, 'A' - 0x30, 'B' - 0x30, 'C' - 0x30, 0x96, 0x00,
          0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 100,
          // track 2: data, index 1 at 250, ends at 310
          0x00, 0x14, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 250, 0, 0, 0x01, 0x36,
          // track 3: data, index 1 at 310 (no index 0), index 2 at 340, ends at 370
          0x00, 0x18, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x36, 0, 0, 0x01, 0x54, 0, 0,
          0x01, 0x72};
}

class RecorderHarness : public testing::Test {
 public:
  ~RecorderHarness() override { bus_.reset(); }

  // A bus with the recorder `product` at 0:4:0 holding the disc `disc`.
  void use(const std::string& product, const std::string& items = "") {
    bus_.reset();
    bus_ = std::make_unique<ScopedTransport<EmulatedBus>>(
        parse_emulated_bus("0:4:0=" + product + ",medium=" + disc + items));
  }
  // Takes the recorder off the bus (as at the end of a program).
  void unplug() { bus_.reset(); }

  // The sense data of a command that fails, zeros after one that succeeds.
  int send(Bytes cdb, Bytes data = {}) {
    drive.last_sense.fill(0);
    return drive.Execute(SC_EXEC_SCSI_CMD, data.empty() ? SRB_DIR_NONE : SRB_DIR_OUT, cdb.data(),
                         static_cast<uint8_t>(cdb.size()), data.empty() ? nullptr : data.data(),
                         static_cast<uint32_t>(data.size()));
  }
  // A command with an allocation length may answer with less: pass `moved`.
  int receive(Bytes cdb, Bytes* data, uint32_t* moved = nullptr) {
    drive.last_sense.fill(0);
    return drive.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb.data(), static_cast<uint8_t>(cdb.size()),
                         data->data(), static_cast<uint32_t>(data->size()), moved);
  }
  Sense sense() const {
    return {static_cast<uint8_t>(drive.last_sense[2] & 0x0F), drive.last_sense[12],
            drive.last_sense[13]};
  }

  // MODE SELECT(6) of one page behind a zeroed header.
  int select_page(const Bytes& page) {
    Bytes list(4, 0);
    list.insert(list.end(), page.begin(), page.end());
    return send({0x15, 0x10, 0, 0, static_cast<uint8_t>(list.size()), 0}, list);
  }
  // MODE SELECT(6) of a block descriptor.
  int select_block_length(uint32_t length) {
    return send({0x15, 0x10, 0, 0, 12, 0},
                {0, 0, 0, 8, 0, 0, 0, 0, 0, static_cast<uint8_t>(length >> 16),
                 static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  }
  // WRITE(10) at LBA 0 of blocks of `size` bytes.
  int write(const Bytes& blocks, uint32_t size) {
    const auto count = static_cast<uint16_t>(blocks.size() / size);
    return send(
        {0x2A, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), 0},
        blocks);
  }
  // `count` zero blocks of 2352 bytes, a few hundred a command.
  void write_zeros(uint32_t count) {
    while (count > 0) {
      const uint32_t now = std::min<uint32_t>(count, 500);
      ASSERT_EQ(write(Bytes(now * RAW_SECTOR_SIZE, 0), RAW_SECTOR_SIZE), 1) << sense();
      count -= now;
    }
  }
  // The program area as the driver sends it, one command per segment.
  void write_segments(const std::vector<Segment>& segments) {
    for (const Segment& segment : segments) {
      Bytes blocks;
      for (int32_t lba = segment.first; lba < segment.first + segment.count; ++lba) {
        const Bytes frame = host_frame(segment.kind, lba);
        blocks.insert(blocks.end(), frame.begin(), frame.end());
      }
      ASSERT_EQ(write(blocks, RAW_SECTOR_SIZE), 1) << sense() << " at " << segment.first;
    }
  }
  int synchronize_cache() { return send({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}); }

  // The family's session at once: READ SESSION, catalog page, block length,
  // WRITE SESSION, lead-in, program area, lead-out, SYNCHRONIZE CACHE.
  void record_mixed(uint8_t session_byte = 0x20, bool test = false) {
    Bytes lengths(4);
    // READ SESSION
    ASSERT_EQ(receive({0xEE, 0, 0, 0, 0, 0, 0, 0, 4, 0}, &lengths), 1);
    const uint32_t leadout = get_be16(&lengths[2]);
    EXPECT_EQ(get_be16(&lengths[0]), 4500);
    Bytes catalog_page = {0x22, 0x08, 0x01};
    const Bytes digits = catalog_bcd("0731454032326");
    catalog_page.insert(catalog_page.end(), digits.begin(), digits.end());
    ASSERT_EQ(select_page(catalog_page), 1);
    ASSERT_EQ(select_page({0x23, 0x06, 0x02, test ? uint8_t{1} : uint8_t{0}, 0, 0, 0, 0}), 1);
    ASSERT_EQ(select_block_length(2352), 1);
    const Bytes table = mixed_table();
    // WRITE SESSION: audio first, session byte, 64 bytes
    ASSERT_EQ(send({0xED, 0, 0, 0, 0, 0, session_byte, 0, 64, 0}, table), 1) << sense();
    write_zeros(4500);
    write_segments(MIXED_PROGRAM);
    write_zeros(leadout);
    ASSERT_EQ(synchronize_cache(), 1) << sense();
  }

  // Records the disc of the cue sheet at `cue` at once through the engine on
  // the recorder at 0:4:0: "none", or the text of what was raised.
  static std::string record_sheet(RecorderDriver& recorder, const std::string& cue) {
    recorder.target = 4;
    std::unique_ptr<CueSheetLayout> sheet = parse_cue_sheet(cue);
    DiscAtOnceJob job;
    job.layout = sheet->layout.get();
    job.files = sheet->files.data();
    job.file_count = sheet->file_count;
    try {
      record_disc_at_once(recorder, job);
    } catch (const MSGVEC& record) {
      return message_vector_text(record);
    }
    return "none";
  }

  // The bytes of one of the disc's files, "(none)" when it does not exist.
  std::string file(const std::string& suffix) const {
    return ::access((disc + suffix).c_str(), F_OK) == 0 ? read_file(disc + suffix) : "(none)";
  }

  ScratchDirectory scratch;
  std::string folder = scratch.path();
  std::string disc = folder + "/disc";
  ScsiDevice drive{0, 4, 0};

 private:
  std::unique_ptr<ScopedTransport<EmulatedBus>> bus_;
};

}  // namespace cdm_test
