#include "support/burn_discs.h"

#include <algorithm>

#include "support/cue_images.h"
#include "support/patterns.h"

namespace cueburn_test {

Bytes pattern(uint32_t frames, uint32_t size, uint8_t seed) {
  Bytes bytes(static_cast<std::size_t>(frames) * size);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / size * 31 + (i >> 9));
  return bytes;
}

Bytes raw_sectors(SectorType type, uint32_t frames, int32_t first) {
  Bytes bytes(static_cast<std::size_t>(frames) * RAW);
  const Bytes data = pattern(frames, DATA_BLOCK_SIZE, 5);
  const uint8_t subheader[4] = {0, 0, SUBMODE_DATA, 0};
  for (uint32_t i = 0; i < frames; ++i)
    build_sector(&bytes[i * RAW], type, first + static_cast<int32_t>(i), subheader,
                 &data[i * DATA_BLOCK_SIZE], false, false, false);
  return bytes;
}

Bytes wav(uint32_t frames) {
  WavSpec spec;
  spec.data_size = frames * RAW;
  Bytes bytes = wav_file_bytes(spec);
  const Bytes samples = pattern(frames, RAW, 99);
  std::copy(samples.begin(), samples.end(), bytes.end() - samples.size());
  return bytes;
}

const char HEADER[] =
    "                                  Copy       Pre      Four\n"
    "Trk  Type   Min:Sec:Frm   LBA   Permitted  Emphasis  Channel      ISRC\n"
    "---  ----   -----------   ---   ---------  --------  -------      ----\n";

std::vector<Fixture> fixtures() {
  return {
      {"audio from WAV and BIN, indexes, gaps, codes and flags",
       "CATALOG 0123456789012\n"
       "FILE \"Track 01.wav\" WAVE\n"
       "  TRACK 01 AUDIO\n"
       "    FLAGS DCP PRE\n"
       "    ISRC USABC9600001\n"
       "    INDEX 01 00:00:00\n"
       "FILE songs.bin BINARY\n"
       "  TRACK 02 AUDIO\n"
       "    FLAGS 4CH\n"
       "    INDEX 00 00:00:00\n"
       "    INDEX 01 00:01:00\n"
       "    INDEX 02 00:02:00\n"
       "  TRACK 03 AUDIO\n"
       "    PREGAP 00:01:00\n"
       "    ISRC GBXYZ9700002\n"
       "    INDEX 01 00:04:00\n"
       "    POSTGAP 00:02:00\n",
       {{"Track 01.wav", wav(200)}, {"songs.bin", pattern(500, RAW, 1)}},
       {{Segment::Copy, "Track 01.wav", 44, 200},
        {Segment::Copy, "songs.bin", 0, 300},
        {Segment::Silence, "", 0, 75},
        {Segment::Copy, "songs.bin", 300 * RAW, 200},
        {Segment::Silence, "", 0, 150}},
       "Media Catalog Number: 0123456789012\n" + std::string(HEADER) +
           "01   Audio   00:02:00    000000    Yes       Yes        No     USABC9600001\n"
           "02   Audio   00:05:50    000275     No        No       Yes     Not Available\n"
           "03   Audio   00:09:50    000575     No        No        No     GBXYZ9700002\n"
           "\nLeadout: 00:14:25 (LBA 000925)\n"},
      {"raw MODE1 and MODE2 sectors with a generated data pregap",
       "FILE m1.bin BINARY\n"
       "  TRACK 01 MODE1/2352\n"
       "    INDEX 01 00:00:00\n"
       "FILE m2.bin BINARY\n"
       "  TRACK 02 MODE2/2352\n"
       "    PREGAP 00:02:00\n"
       "    INDEX 01 00:00:00\n",
       {{"m1.bin", raw_sectors(SECTOR_MODE1, 200, 0)},
        {"m2.bin", raw_sectors(SECTOR_MODE2_FORM1, 200, 350)}},
       {{Segment::Copy, "m1.bin", 0, 200},
        {Segment::Mode2Gap, "", 0, 150},
        {Segment::Copy, "m2.bin", 0, 200}},
       "Media Catalog Number: Not Available\n" + std::string(HEADER) +
           "01   Data    00:02:00    000000     No        No        No     Not Available\n"
           "02   Data    00:06:50    000350     No        No        No     Not Available\n"
           "\nLeadout: 00:09:25 (LBA 000550)\n"},
      {"2048-byte MODE1 data with a postgap, then audio with a pregap",
       "FILE data.bin BINARY\n"
       "  TRACK 01 MODE1/2048\n"
       "    INDEX 01 00:00:00\n"
       "    POSTGAP 00:02:00\n"
       "FILE audio.bin BINARY\n"
       "  TRACK 02 AUDIO\n"
       "    PREGAP 00:02:00\n"
       "    INDEX 01 00:00:00\n",
       {{"data.bin", pattern(300, DATA_BLOCK_SIZE, 3)}, {"audio.bin", pattern(100, RAW, 4)}},
       {{Segment::User2048, "data.bin", 0, 300},
        {Segment::Mode1Gap, "", 0, 150},
        {Segment::Silence, "", 0, 150},
        {Segment::Copy, "audio.bin", 0, 100}},
       "Media Catalog Number: Not Available\n" + std::string(HEADER) +
           "01   Data    00:02:00    000000     No        No        No     Not Available\n"
           "02   Audio   00:10:00    000600     No        No        No     Not Available\n"
           "\nLeadout: 00:11:25 (LBA 000700)\n"},
      {"2336-byte MODE2 data",
       "FILE m2.bin BINARY\n"
       "  TRACK 01 MODE2/2336\n"
       "    INDEX 01 00:00:00\n",
       {{"m2.bin", pattern(200, 2336, 6)}},
       {{Segment::User2336, "m2.bin", 0, 200}},
       "Media Catalog Number: Not Available\n" + std::string(HEADER) +
           "01   Data    00:02:00    000000     No        No        No     Not Available\n"
           "\nLeadout: 00:04:50 (LBA 000200)\n"},
      {"CD-i data in 2336- and 2352-byte blocks with generated gaps",
       "FILE cdi.bin BINARY\n"
       "  TRACK 01 CDI/2336\n"
       "    INDEX 01 00:00:00\n"
       "    POSTGAP 00:01:00\n"
       "FILE cdiraw.bin BINARY\n"
       "  TRACK 02 CDI/2352\n"
       "    PREGAP 00:02:00\n"
       "    INDEX 01 00:00:00\n"
       "    INDEX 02 00:01:00\n",
       {{"cdi.bin", pattern(200, 2336, 8)},
        {"cdiraw.bin", raw_sectors(SECTOR_MODE2_FORM1, 100, 425)}},
       {{Segment::User2336, "cdi.bin", 0, 200},
        {Segment::Mode2Gap, "", 0, 75},
        {Segment::Mode2Gap, "", 0, 150},
        {Segment::Copy, "cdiraw.bin", 0, 100}},
       "Media Catalog Number: Not Available\n" + std::string(HEADER) +
           "01   Data    00:02:00    000000     No        No        No     Not Available\n"
           "02   Data    00:07:50    000425     No        No        No     Not Available\n"
           "\nLeadout: 00:09:00 (LBA 000525)\n"},
      // The recorder takes the CD+G tracks' blocks with their subcode and
      // keeps them so; the audio track between them is 2352 bytes a frame.
      {"CD+G tracks around an audio track, with a pregap and a second index",
       "FILE first.cdg BINARY\n"
       "  TRACK 01 CDG\n"
       "    ISRC USABC9600003\n"
       "    INDEX 01 00:00:00\n"
       "FILE middle.bin BINARY\n"
       "  TRACK 02 AUDIO\n"
       "    INDEX 01 00:00:00\n"
       "FILE last.cdg BINARY\n"
       "  TRACK 03 CDG\n"
       "    FLAGS DCP\n"
       "    PREGAP 00:01:00\n"
       "    INDEX 01 00:00:00\n"
       "    INDEX 02 00:01:00\n",
       {{"first.cdg", pattern(100, CDG, 11)},
        {"middle.bin", pattern(100, RAW, 12)},
        {"last.cdg", pattern(150, CDG, 13)}},
       {{Segment::Copy, "first.cdg", 0, 100, CDG},
        {Segment::Copy, "middle.bin", 0, 100},
        {Segment::Silence, "", 0, 75, CDG},
        {Segment::Copy, "last.cdg", 0, 150, CDG}},
       "Media Catalog Number: Not Available\n" + std::string(HEADER) +
           "01   Audio   00:02:00    000000     No        No        No     USABC9600003\n"
           "02   Audio   00:03:25    000100     No        No        No     Not Available\n"
           "03   Audio   00:05:50    000275    Yes        No        No     Not Available\n"
           "\nLeadout: 00:07:50 (LBA 000425)\n",
       false},
  };
}

const std::vector<Recorder> RECORDERS = {
    {"KHSW/OB-01", true},   {"CDD522/10", true},      {"CDD2000", true},
    {"CDD2600", true},      {"RO-1420C", true},       {"CDW-900E", true},
    {"CDS615E", false},     {"CD-R2001", false},      {"CDR100,writebusy=4", true},
    {"CDR102", true},       {"RCD-1000", false},      {"RCD5040", false},
    {"CD-R50S-000", false}, {"MMC CD-RW DRIVE", true}};

std::string without_codes(const std::string& listing) {
  const std::string no_mcn = cdm_test::Pattern("Media Catalog Number: [0-9]{13}")
                                 .replace(listing, "Media Catalog Number: Not Available");
  return cdm_test::Pattern("[0-9A-Z]{12}\n").replace(no_mcn, "Not Available\n");
}

ProgramRun CueBurn::cueburn(const std::string& bus, const std::vector<std::string>& arguments,
                            const std::string& input) {
  cdm_test::ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
  return run_program("cueburn", arguments, folder, input);
}

ProgramRun CueBurn::discinfo(const std::string& bus, const std::vector<std::string>& arguments) {
  cdm_test::ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
  return run_program("discinfo", arguments, folder);
}

std::string CueBurn::write_fixture(const Fixture& fixture) {
  for (const auto& [name, bytes] : fixture.files) write_bytes(folder + "/" + name, bytes);
  write_file(folder + "/disc.cue", fixture.sheet);
  return folder + "/disc.cue";
}

void expect_sectors(const std::string& image, const std::string& folder,
                    const std::vector<Segment>& segments, const std::string& what) {
  uint32_t lba = 0;
  std::size_t at = 0;  // where the frame of the LBA begins in the image
  for (const Segment& segment : segments) {
    const std::string source = segment.file.empty() ? "" : read_file(folder + "/" + segment.file);
    const bool whole = segment.kind == Segment::Copy || segment.kind == Segment::Silence;
    const std::size_t size = whole ? segment.size : RAW;
    for (uint32_t i = 0; i < segment.frames; ++i, ++lba, at += size) {
      SCOPED_TRACE(what + ": LBA " + std::to_string(lba));
      ASSERT_LE(at + size, image.size());
      const auto* sector = reinterpret_cast<const uint8_t*>(image.data()) + at;
      const uint8_t mode =
          segment.kind == Segment::User2048 || segment.kind == Segment::Mode1Gap ? 1 : 2;
      switch (segment.kind) {
        case Segment::Copy:
          ASSERT_EQ(Bytes(sector, sector + size),
                    Bytes(source.begin() + segment.offset + i * size,
                          source.begin() + segment.offset + (i + 1) * size));
          continue;
        case Segment::Silence: ASSERT_EQ(Bytes(sector, sector + size), Bytes(size, 0)); continue;
        default: break;
      }
      ASSERT_TRUE(sector_matches_address(sector, static_cast<int32_t>(lba)));
      ASSERT_EQ(sector[15], mode);
      if (segment.kind == Segment::User2048) {
        ASSERT_EQ(Bytes(sector + 16, sector + 16 + DATA_BLOCK_SIZE),
                  Bytes(source.begin() + i * DATA_BLOCK_SIZE,
                        source.begin() + (i + 1) * DATA_BLOCK_SIZE));
      } else if (segment.kind == Segment::User2336) {
        ASSERT_EQ(Bytes(sector + 16, sector + RAW),
                  Bytes(source.begin() + i * 2336, source.begin() + (i + 1) * 2336));
      } else if (segment.kind == Segment::Mode1Gap) {
        ASSERT_EQ(Bytes(sector + 16, sector + 16 + DATA_BLOCK_SIZE), Bytes(DATA_BLOCK_SIZE, 0));
      } else {
        ASSERT_EQ(Bytes(sector + 24, sector + 24 + 2324), Bytes(2324, 0));
      }
    }
  }
  EXPECT_EQ(image.size(), at) << what;
}

std::vector<Bytes> payload_frames(const std::string& folder, const std::vector<Segment>& segments) {
  std::vector<Bytes> frames;
  for (const Segment& segment : segments) {
    const std::string source = segment.file.empty() ? "" : read_file(folder + "/" + segment.file);
    for (uint32_t i = 0; i < segment.frames; ++i) {
      Bytes frame(RAW, 0);
      auto from = source.begin() + segment.offset;
      if (segment.kind == Segment::Copy)
        std::copy_n(from + i * segment.size, RAW, frame.begin());
      else if (segment.kind == Segment::User2048)
        std::copy_n(from + i * DATA_BLOCK_SIZE, DATA_BLOCK_SIZE, frame.begin() + 16);
      else if (segment.kind == Segment::User2336)
        std::copy_n(from + i * 2336, 2336, frame.begin() + 16);
      frames.push_back(std::move(frame));
    }
  }
  return frames;
}

}  // namespace cueburn_test
