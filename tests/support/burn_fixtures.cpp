#include "support/burn_fixtures.h"

#include <algorithm>

#include "support/cue_images.h"

namespace cueburn_fixtures {

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

extern const char HEADER[];
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
  };
}

}  // namespace cueburn_fixtures
