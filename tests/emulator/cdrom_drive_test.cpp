// The emulated CD-ROM drive as the generic reader sees it: a disc from a cue
// sheet read back through the table of contents, the sub-channel, data reads
// at every block length, READ CD-DA with its subcode, and the failures a
// drive reports.
#include "emulator/cdrom_drive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/cd_reader.h"
#include "emulator/bus.h"
#include "support/cue_images.h"
#include "support/sample_discs.h"
#include "support/scsi_fakes.h"
#include "support/sector_checks.h"

namespace {

using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

// Data track (index 0 in the image), then two audio tracks with ISRC codes,
// one with an index 0 of 75 frames and flags.
SampleDisc mixed_disc() {
  SampleDisc disc;
  disc.catalog = "0731454032326";
  disc.tracks = {{TrackType::Mode1, 300, 0, "", ""},
                 {TrackType::Audio, 200, 150, "USABC9600001", ""},
                 {TrackType::Audio, 250, 75, "GB0009700002", "DCP PRE"}};
  return disc;
}

class CdromDrive : public testing::Test {
 protected:
  // Puts the bus of `value` in place; "%s" in it stands for the folder.
  void use(const std::string& value) {
    std::string text = value;
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, folder);
    bus_.reset();
    bus_ = std::make_unique<ScopedTransport<EmulatedBus>>(parse_emulated_bus(text));
  }
  void use_disc(const SampleDisc& disc, const std::string& items = "") {
    write_sample_disc(folder, "disc", disc);
    use("0:3:0=MYSTERY CDROM,medium=%s/disc.cue" + items);
  }

  ScratchDirectory scratch;
  std::string folder = scratch.path();
  std::unique_ptr<ScopedTransport<EmulatedBus>> bus_;
  CdReader reader{};
  void SetUp() override { reader.target = 3; }
};

TEST_F(CdromDrive, TableOfContentsIsTheCueSheets) {
  use_disc(mixed_disc());
  auto layout = create_disc_layout();
  reader.ReadDiscToc(layout.get(), true, true, true);
  EXPECT_EQ(layout->track_count, 3);
  EXPECT_EQ(layout->first_track, 1);
  const std::vector<uint32_t> starts = sample_track_starts(mixed_disc());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(layout->tracks[i].start, starts[i]) << i;
  EXPECT_EQ(layout->leadout_position, starts[3]);
  EXPECT_EQ(layout->tracks[3].track_number, LEADOUT_TRACK);
  EXPECT_EQ(layout->tracks[0].track_flags, TRACK_DATA);
  EXPECT_EQ(layout->tracks[0].sector_mode, 1);
  EXPECT_EQ(layout->tracks[1].track_flags, TRACK_ISRC);
  EXPECT_EQ(layout->tracks[2].track_flags, TRACK_DCP | TRACK_PRE | TRACK_ISRC);
  EXPECT_EQ(std::string(layout->tracks[1].isrc.data(), 12), "USABC9600001");
  EXPECT_EQ(std::string(layout->tracks[2].isrc.data(), 12), "GB0009700002");
  EXPECT_EQ(std::string(layout->catalog_number.data(), 13), "0731454032326");

  // MSF addresses, a starting track, the session format.
  uint8_t toc[64] = {};
  uint32_t moved = 0;
  const uint8_t msf_from_2[10] = {0x43, 0x02, 0, 0, 0, 0, 2, 0, 64, 0};
  ASSERT_EQ(reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, msf_from_2, 10, toc, 64, &moved), 1);
  EXPECT_EQ(moved, 28u);
  EXPECT_EQ(Bytes(toc, toc + 20), Bytes({0, 26,   1, 3,                   // 2 tracks and lead-out
                                         0, 0x10, 2, 0, 0, 0, 8,  0,      // track 2 at 00:08:00
                                         0, 0x13, 3, 0, 0, 0, 11, 50}));  // track 3 at 00:11:50
  const uint8_t session[10] = {0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0};
  ASSERT_EQ(reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, session, 10, toc, 12, &moved), 1);
  EXPECT_EQ(Bytes(toc, toc + 12), Bytes({0, 10, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0}));
  const uint8_t format4[10] = {0x43, 0, 4, 0, 0, 0, 0, 0, 12, 0};
  EXPECT_EQ(reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, format4, 10, toc, 12),
            MSG_ILLEGAL_REQUEST);
}

TEST_F(CdromDrive, DiscStartingAtTrackThreeAndModeTwo) {
  SampleDisc disc;
  disc.first_track = 3;
  disc.tracks = {{TrackType::Mode2, 100, 0, "", ""}, {TrackType::Audio, 80, 0, "", ""}};
  use_disc(disc);
  auto layout = create_disc_layout();
  reader.ReadDiscToc(layout.get(), true, true, true);
  EXPECT_EQ(layout->first_track, 3);
  EXPECT_EQ(layout->track_count, 2);
  EXPECT_EQ(layout->tracks[0].track_number, 3);
  EXPECT_EQ(layout->tracks[0].sector_mode, 2);
  EXPECT_EQ(layout->tracks[1].track_number, 4);
  EXPECT_EQ(layout->tracks[1].start, 100u);
  EXPECT_EQ(layout->layout_flags, 0);  // no catalog number
}

TEST_F(CdromDrive, DataReadsAtEveryBlockLength) {
  use_disc(mixed_disc());
  const Bytes raw = sample_frame(TrackType::Mode1, 17);
  uint8_t buffer[2 * 2352] = {};
  struct Case {
    uint32_t length;
    std::size_t offset;
  };
  for (const Case c : {Case{2048, 16}, Case{2336, 16}, Case{2340, 12}, Case{2352, 0}}) {
    ASSERT_EQ(reader.SetBlockLengthNamed(SECTOR_KIND_DATA, c.length, false), 1);
    ASSERT_EQ(reader.ReadDataSectors(buffer, c.length, 2, 16, false), 1) << c.length;
    EXPECT_EQ(Bytes(buffer + c.length, buffer + 2 * c.length),
              Bytes(raw.begin() + c.offset, raw.begin() + c.offset + c.length))
        << c.length;
  }
  EXPECT_EQ(reader.SetBlockLengthNamed(SECTOR_KIND_DATA, 2000, false), MSG_ILLEGAL_REQUEST);
}

TEST_F(CdromDrive, TracksStoredCookedReadAsRawSectors) {
  // A MODE1/2048 and a MODE2/2336 track in files of their own, audio after a PREGAP.
  std::vector<uint8_t> cooked(20 * 2048), body(10 * 2336), audio(50 * 2352, 0x33);
  for (std::size_t i = 0; i < cooked.size(); ++i) cooked[i] = static_cast<uint8_t>(i / 7);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i / 3);
  write_bytes(folder + "/cooked.iso", cooked);
  write_bytes(folder + "/body.bin", body);
  write_bytes(folder + "/audio.bin", audio);
  const std::string sheet =
      "FILE cooked.iso BINARY\n TRACK 01 MODE1/2048\n  INDEX 01 00:00:00\n"
      "FILE body.bin BINARY\n TRACK 02 MODE2/2336\n  INDEX 01 00:00:00\n"
      "FILE audio.bin BINARY\n TRACK 03 AUDIO\n  PREGAP 00:02:00\n  INDEX 01 00:00:00\n";
  write_bytes(folder + "/cooked.cue", Bytes(sheet.begin(), sheet.end()));
  use("0:3:0=MYSTERY CDROM,medium=%s/cooked.cue");
  ASSERT_EQ(reader.SetBlockLengthNamed(SECTOR_KIND_DATA, 2352, false), 1);
  uint8_t sector[2352] = {};
  cdm_test::ExpectedSector expected;
  ASSERT_EQ(reader.ReadDataSectors(sector, 2352, 1, 5, false), 1);
  expected.lba = 5;
  expected.data = cooked.data() + 5 * 2048;
  EXPECT_EQ(cdm_test::raw_sector_faults(sector, expected), "");
  ASSERT_EQ(reader.ReadDataSectors(sector, 2352, 1, 23, false), 1);
  expected.lba = 23;
  expected.type = SECTOR_MODE2;
  expected.data = body.data() + 3 * 2336;
  EXPECT_EQ(cdm_test::raw_sector_faults(sector, expected), "");
  // The PREGAP of the audio track is silence, its first frame at 30 + 150.
  ASSERT_EQ(reader.ReadAudioSectors(sector, 1, 100, SUBCODE_NONE, false), 1);
  EXPECT_EQ(Bytes(sector, sector + 2352), Bytes(2352, 0));
  ASSERT_EQ(reader.ReadAudioSectors(sector, 1, 180, SUBCODE_NONE, false), 1);
  EXPECT_EQ(Bytes(sector, sector + 2352), Bytes(2352, 0x33));
}

TEST_F(CdromDrive, ReadsFailAsADriveFails) {
  use_disc(mixed_disc(), ",bad=600-602");
  uint8_t buffer[4 * 2448] = {};
  // Audio with READ(10), data with READ CD-DA: illegal mode for this track.
  EXPECT_EQ(reader.ReadDataSectors(buffer, 2048, 1, 300, false), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(reader.last_sense[12], 0x64);
  EXPECT_EQ(reader.ReadDataSectors(buffer, 2048, 2, 299, false), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(get_be32(reader.last_sense.data() + 3), 300u);  // where it stopped
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 1, 299, SUBCODE_NONE, false), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(reader.last_sense[12], 0x64);
  // Past the lead-out (975): logical block address out of range.
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 2, 974, SUBCODE_NONE, false), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(reader.last_sense[12], 0x21);
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 1, 974, SUBCODE_NONE, false), 1);
  // bad=600-602: unrecovered read error, unless recovery is off.
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 4, 598, SUBCODE_NONE, false), MSG_MEDIUM_ERROR);
  EXPECT_EQ(reader.last_sense[12], 0x11);
  EXPECT_EQ(reader.FindLastReadableSector(true), 974u);
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 1, 0xFFFFFFFF, 7, false), MSG_BUGCHECK);
  const uint8_t format4[12] = {0xD8, 0, 0, 0, 2, 0x58, 0, 0, 0, 1, 4, 0};
  EXPECT_EQ(reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, format4, 12, buffer, 2448),
            MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(reader.last_sense[12], 0x24);
}

// The 12 Q bytes of a 96-byte P-W block, and whether its P bits are set.
Bytes q_from_subcode(const uint8_t* pw, bool* pause) {
  Bytes q(12, 0);
  *pause = true;
  for (int i = 0; i < 96; ++i) {
    if (pw[i] & 0x40) q[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    if (!(pw[i] & 0x80)) *pause = false;
  }
  return q;
}

TEST_F(CdromDrive, SubcodeIsWhatADriveReports) {
  use_disc(mixed_disc());
  // Track 2: index 0 from 300, index 1 from 450. Read 100 frames of the pause and after.
  std::vector<uint8_t> blocks(100 * 2368);
  ASSERT_EQ(reader.ReadAudioSectors(blocks.data(), 100, 400, SUBCODE_Q, false), 1);
  int catalog_frames = 0, isrc_frames = 0;
  for (uint32_t i = 0; i < 100; ++i) {
    const uint32_t lba = 400 + i;
    const uint8_t* block = blocks.data() + i * 2368;
    const uint8_t* q = block + 2352;
    EXPECT_EQ(Bytes(block, block + 2352), sample_frame(TrackType::Audio, lba));
    EXPECT_EQ(q_crc(q), get_be16(q + 10)) << lba;
    EXPECT_EQ(Bytes(q + 12, q + 16), Bytes(4, 0));
    const uint8_t adr = q[0] & 0x0F;
    if (adr == 2) {
      ++catalog_frames;
      // 13 digits in BCD, then the absolute frame
      EXPECT_EQ(Bytes(q + 1, q + 8), Bytes({0x07, 0x31, 0x45, 0x40, 0x32, 0x32, 0x60}));
      EXPECT_EQ(q[9], bin_to_bcd((lba + 150) % 75));
      continue;
    }
    if (adr == 3) {
      ++isrc_frames;
      // "USABC" in six-bit codes, two zero bits, "9600001" in BCD
      EXPECT_EQ(Bytes(q + 1, q + 9), Bytes({0x96, 0x34, 0x52, 0x4C, 0x96, 0x00, 0x00, 0x10}));
      continue;
    }
    ASSERT_EQ(adr, 1);
    const bool pause = lba < 450;
    const MsfTime relative = frames_to_msf(static_cast<int32_t>(pause ? 450 - lba : lba - 450));
    const MsfTime absolute = lba_to_msf(static_cast<int32_t>(lba));
    EXPECT_EQ(Bytes(q, q + 10), Bytes({0x01, 0x02, static_cast<uint8_t>(pause ? 0 : 1),
                                       bin_to_bcd(relative.minute), bin_to_bcd(relative.second),
                                       bin_to_bcd(relative.frame), 0, bin_to_bcd(absolute.minute),
                                       bin_to_bcd(absolute.second), bin_to_bcd(absolute.frame)}))
        << lba;
  }
  EXPECT_EQ(catalog_frames, 1);
  EXPECT_EQ(isrc_frames, 1);

  // Full subcode: the same Q interleaved into bit 6, P set in the pause only.
  uint8_t full[2 * 2448] = {}, only[2 * 96] = {};
  ASSERT_EQ(reader.ReadAudioSectors(full, 2, 449, SUBCODE_ALL, false), 1);
  ASSERT_EQ(reader.ReadAudioSectors(only, 2, 449, SUBCODE_ONLY, false), 1);
  EXPECT_EQ(Bytes(full + 2448, full + 2448 + 2352), sample_frame(TrackType::Audio, 450));
  for (int i = 0; i < 2; ++i) {
    bool pause = false;
    const Bytes q = q_from_subcode(full + i * 2448 + 2352, &pause);
    EXPECT_EQ(Bytes(blocks.data() + (49 + i) * 2368 + 2352, blocks.data() + (49 + i) * 2368 + 2364),
              q);
    EXPECT_EQ(pause, i == 0);
    EXPECT_EQ(Bytes(full + i * 2448 + 2352, full + i * 2448 + 2448),
              Bytes(only + i * 96, only + i * 96 + 96));
  }
}

TEST_F(CdromDrive, TrayAndEmptyDrive) {
  use_disc(mixed_disc());
  uint8_t toc[TOC_BUFFER_LENGTH] = {};
  EXPECT_EQ(reader.EjectDiscNamed(true), 1);
  EXPECT_EQ(reader.TestUnitReadyRaw(), MSG_NOT_READY);
  EXPECT_EQ(reader.last_sense[12], 0x3A);
  EXPECT_EQ(reader.ReadTocRaw(toc, TOC_BUFFER_LENGTH, 0), MSG_NOT_READY);
  EXPECT_EQ(reader.LoadDiscNamed(true), 1);
  EXPECT_EQ(reader.TestUnitReadyRaw(), 1);
  EXPECT_EQ(reader.ReadTocRaw(toc, TOC_BUFFER_LENGTH, 0), 1);
  EXPECT_EQ(toc[3], 3);

  use("0:3:0=MYSTERY CDROM");
  EXPECT_EQ(reader.ReadCapacityRaw(nullptr, nullptr), MSG_NOT_READY);
  EXPECT_EQ(reader.LoadDiscNamed(true), 1);  // nothing to load
  EXPECT_EQ(reader.TestUnitReadyRaw(), MSG_NOT_READY);
}

TEST_F(CdromDrive, ModePages) {
  use_disc(mixed_disc());
  uint8_t data[212] = {};
  ASSERT_EQ(reader.ModeSenseRaw(data, 212, 0x3F, 0), 1);
  EXPECT_EQ(data[0], 4 + 8 + 8 + 16 + 8 + 16 + 22 - 1);
  EXPECT_EQ(data[1], 0x03);  // data and audio
  EXPECT_EQ(get_be24(data + 9), 2048u);
  std::vector<uint8_t> codes;
  for (std::size_t at = 12; at < data[0] + 1u; at += data[at + 1] + 2u) codes.push_back(data[at]);
  EXPECT_EQ(codes, Bytes({0x01, 0x02, 0x0D, 0x0E, 0x2A}));

  ASSERT_EQ(reader.SetErrorRecovery(0x26, 3, false), 1);
  ASSERT_EQ(reader.SetBlockLengthNamed(SECTOR_KIND_DATA, 2340, false), 1);
  ASSERT_EQ(reader.ModeSenseRaw(data, 20, 0x01, 0), 1);
  EXPECT_EQ(get_be24(data + 9), 2340u);
  EXPECT_EQ(Bytes(data + 12, data + 20), Bytes({0x01, 0x06, 0x26, 0x03, 0, 0, 0, 0}));
  ASSERT_EQ(reader.ModeSenseRaw(data, 20, 0x01, 1), 1);  // changeable
  EXPECT_EQ(Bytes(data + 12, data + 16), Bytes({0x01, 0x06, 0xFF, 0xFF}));
  ASSERT_EQ(reader.ModeSenseRaw(data, 20, 0x01, 2), 1);  // defaults
  EXPECT_EQ(data[14], 0x00);
  EXPECT_EQ(reader.ModeSenseRaw(data, 20, 0x31, 0), MSG_ILLEGAL_REQUEST);
  // A page the drive does not have is refused whole: the block length stays.
  uint8_t select[20] = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0x31, 0x02, 4, 0};
  EXPECT_EQ(reader.ModeSelectRaw(select, 16, true), MSG_ILLEGAL_REQUEST);
  ASSERT_EQ(reader.ModeSenseRaw(data, 12, 0x01, 0), 1);
  EXPECT_EQ(get_be24(data + 9), 2340u);
}

TEST_F(CdromDrive, BadCueSheetIsABadBusValue) {
  write_bytes(folder + "/bad.cue", {'T', 'R', 'A', 'C', 'K', '\n'});
  try {
    EmulatedBus bus(parse_emulated_bus("0:3:0=X,medium=" + folder + "/bad.cue"));
    FAIL() << "accepted";
  } catch (const EmulatedBusError& error) {
    EXPECT_EQ(std::string(error.what()),
              "cue sheet \"" + folder +
                  "/bad.cue\": Invalid CUE SHEET command at line 1: No FILE has been specified!");
  }
  EXPECT_THROW(EmulatedBus(parse_emulated_bus("0:3:0=X,bad=7-3")), EmulatedBusError);
  // A recorder's own media are not cue sheets: the CD-ROM drive leaves it alone.
  EmulatedBus recorders(parse_emulated_bus("0:4:0=CDD2000,medium=" + folder + "/blank"));
  EXPECT_EQ(recorders.device(0, 4, 0)->medium_as<EmulatedDisc>(), nullptr);
}

}  // namespace
