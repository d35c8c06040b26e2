// Audio reads of the emulated CD-ROM drive with jitter=N: exact after REZERO
// UNIT, then off by whole stereo samples within N each way, reproducible for
// a seed; subcode and data reads stay exact; bad sectors fail audio reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "common/sector.h"
#include "drivers/cd_reader.h"
#include "emulator/bus.h"
#include "support/sample_discs.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t COUNT = 10;
constexpr uint32_t AT = 200;  // LBA of the reads

class CdromJitter : public testing::Test {
 protected:
  void use(const std::string& items) {
    SampleDisc disc;
    disc.tracks = {{TrackType::Audio, 400, 0, "", ""}, {TrackType::Mode1, 50, 0, "", ""}};
    const std::string cue = write_sample_disc(scratch.path(), "disc", disc);
    bus_.reset();
    bus_ = std::make_unique<ScopedTransport<EmulatedBus>>(
        parse_emulated_bus("0:3:0=MYSTERY CDROM,medium=" + cue + items));
  }
  // The audio bytes of the disc from byte `first_byte` on (LBA 0 at byte 0).
  static Bytes image(int64_t first_byte, std::size_t length) {
    Bytes out;
    for (int64_t lba = first_byte / 2352; out.size() < first_byte % 2352 + length; ++lba) {
      const Bytes frame = sample_frame(TrackType::Audio, static_cast<uint32_t>(lba));
      out.insert(out.end(), frame.begin(), frame.end());
    }
    return Bytes(out.begin() + first_byte % 2352, out.begin() + first_byte % 2352 + length);
  }
  // The shift in samples of one read, found by searching the image around it.
  int64_t shift_of(const Bytes& read) {
    const Bytes around = image(AT * 2352 - 400, read.size() + 800);
    for (int64_t samples = -100; samples <= 100; ++samples)
      if (std::equal(read.begin(), read.end(), around.begin() + 400 + samples * 4)) return samples;
    ADD_FAILURE() << "no shift within 100 samples";
    return 0;
  }
  int64_t read_shift() {
    Bytes buffer(COUNT * 2352);
    EXPECT_EQ(reader.ReadAudio(buffer.data(), COUNT, AT, SUBCODE_NONE), 1);
    return shift_of(buffer);
  }

  ScratchDirectory scratch;
  std::unique_ptr<ScopedTransport<EmulatedBus>> bus_;
  CdReader reader{};
  void SetUp() override { reader.target = 3; }
};

TEST_F(CdromJitter, ReadsLandWithinTheJitterAndExactAfterRezero) {
  use(",jitter=30,seed=9");
  std::vector<int64_t> shifts;
  for (int i = 0; i < 40; ++i) shifts.push_back(read_shift());
  EXPECT_EQ(shifts[0], 0);  // the first read after power-on
  unsigned off = 0;
  for (int64_t s : shifts) {
    EXPECT_LE(std::abs(s), 30);
    off += s != 0;
  }
  EXPECT_GT(off, 30u);
  EXPECT_EQ(reader.RezeroUnit(true), 1);
  EXPECT_EQ(read_shift(), 0);
  EXPECT_NE(read_shift() == 0 && read_shift() == 0 && read_shift() == 0, true);

  // The same seed gives the same offsets.
  use(",jitter=30,seed=9");
  for (int i = 0; i < 40; ++i) EXPECT_EQ(read_shift(), shifts[static_cast<std::size_t>(i)]) << i;
}

TEST_F(CdromJitter, SubcodeAndDataStayExact) {
  use(",jitter=30,seed=3");
  Bytes first(COUNT * 2352);
  ASSERT_EQ(reader.ReadAudio(first.data(), COUNT, AT, SUBCODE_NONE), 1);  // exact
  Bytes exact_subcode(COUNT * 96);
  ASSERT_EQ(reader.ReadAudio(exact_subcode.data(), COUNT, AT, SUBCODE_ONLY), 1);
  for (int i = 0; i < 5; ++i) {
    Bytes subcode(COUNT * 96);
    ASSERT_EQ(reader.ReadAudio(subcode.data(), COUNT, AT, SUBCODE_ONLY), 1);
    EXPECT_EQ(subcode, exact_subcode);
    Bytes with_subcode(COUNT * 2448);
    ASSERT_EQ(reader.ReadAudio(with_subcode.data(), COUNT, AT, SUBCODE_ALL), 1);
    for (uint32_t k = 0; k < COUNT; ++k)
      EXPECT_EQ(0, std::memcmp(&with_subcode[k * 2448 + 2352], &exact_subcode[k * 96], 96));
  }
  ASSERT_EQ(reader.SetBlockLength(SECTOR_KIND_DATA, 2352), 1);
  for (int i = 0; i < 5; ++i) {
    Bytes data(2352);
    ASSERT_EQ(reader.ReadData(data.data(), 2352, 1, 410), 1);
    EXPECT_EQ(data, sample_frame(TrackType::Mode1, 410));
  }
}

TEST_F(CdromJitter, BadAudioSectorsFailWithMediumError) {
  use(",bad=205-206,jitter=5");
  Bytes buffer(COUNT * 2352);
  EXPECT_EQ(reader.ReadAudio(buffer.data(), COUNT, AT, SUBCODE_NONE), MSG_MEDIUM_ERROR);
  EXPECT_EQ(reader.ReadAudio(buffer.data(), 5, AT, SUBCODE_NONE), 1);
}

TEST_F(CdromJitter, BadItemsStopTheBus) {
  for (const char* items :
       {",jitter=100001", ",jitter=-1", ",jitter=3x", ",seed=4294967296", ",seed="}) {
    SCOPED_TRACE(items);
    EXPECT_THROW(use(items), EmulatedBusError);
  }
}

}  // namespace
