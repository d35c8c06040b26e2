// The conversion driven in the process, with inputs and outputs that fail.
#include "tools/sectconv/raw_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/console.h"

namespace {

// An input of `length` bytes of which only `readable` can be read.
class ShortSource : public ByteSource {
 public:
  ShortSource(uint64_t length, uint64_t readable) : length_(length), left_(readable) {}
  bool length(uint64_t* bytes) override {
    *bytes = length_;
    return true;
  }
  std::size_t read(uint8_t* buffer, std::size_t size) override {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(size, left_));
    std::memset(buffer, 0x5A, n);
    left_ -= n;
    return n;
  }

 private:
  uint64_t length_;
  uint64_t left_;
};

// Keeps what it is given; fails writes after `writable` bytes, or the close.
class FaultySink : public ByteSink {
 public:
  FaultySink(uint64_t writable, bool close_fails)
      : writable_(writable), close_fails_(close_fails) {}
  bool write(const uint8_t* data, std::size_t size) override {
    if (bytes.size() + size > writable_) return false;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool close() override {
    closed = true;
    return !close_fails_;
  }
  std::vector<uint8_t> bytes;
  bool closed = false;

 private:
  uint64_t writable_;
  bool close_fails_;
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome convert(ByteSource& in, ByteSink& out, bool postgap = false) {
  RawImageSettings settings;
  settings.postgap = postgap;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = run_tool([&] {
    convert_image(settings, in, out);
    return 0;
  });
  return {status, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

TEST(RawImage, ReadThatComesUpShort) {
  // Blocks go 864 to a read: the fourth read comes up short, after the first
  // three reads' sectors are written and shown, and nothing after them.
  ShortSource in(4000 * 2048, 3000 * 2048);
  FaultySink out(UINT64_MAX, false);
  const Outcome o = convert(in, out);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "\nUnexpected error reading input file!\n");
  std::string shown = "File contains 8Mb of data (4000 blocks)\nProcessing...\n 0% completed.\r";
  unsigned last = 0;
  for (unsigned done = 27; done <= 2592; done += 27) {
    if (done * 100 / 4000 > last)
      shown += " " + std::to_string(done * 100 / 4000) + "% completed.\r";
    last = done * 100 / 4000;
  }
  EXPECT_EQ(o.out, shown);
  EXPECT_EQ(out.bytes.size(), 2592 * RAW_SECTOR_SIZE);
  EXPECT_FALSE(out.closed);
}

TEST(RawImage, WriteFailuresInDataAndPostgap) {
  ShortSource in(600 * 2048, 600 * 2048);
  FaultySink out(100 * RAW_SECTOR_SIZE, false);
  Outcome o = convert(in, out);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "\nUnexpected error writing output file!\n");

  ShortSource small(2 * 2048, 2 * 2048);
  FaultySink gap(10 * RAW_SECTOR_SIZE, false);
  o = convert(small, gap, true);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "\nUnexpected error writing output file!\n");
  EXPECT_EQ(gap.bytes.size(), 10 * RAW_SECTOR_SIZE);  // left as far as it was written
  EXPECT_EQ(o.out.substr(o.out.size() - 31), "Writing POSTGAP (150 blocks)...");
}

TEST(RawImage, WriteErrorThatShowsOnlyAtClose) {
  ShortSource in(2 * 2048, 2 * 2048);
  FaultySink out(UINT64_MAX, true);
  const Outcome o = convert(in, out, true);
  EXPECT_TRUE(out.closed);
  EXPECT_EQ(out.bytes.size(), 152 * RAW_SECTOR_SIZE);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "\nUnexpected error writing output file!\n");
}

TEST(RawImage, ImagesPastTheLastAddressAreRefusedBeforeAnythingIsWritten) {
  // The last sector may be LBA 449849 (99:59:74), the postgap's included.
  // An image that passes fails here only at its first read.
  struct Case {
    uint64_t blocks;
    bool postgap;
    std::string err;
  };
  const Case cases[] = {
      {449850, false, "\nUnexpected error reading input file!\n"},
      {449851, false,
       "Error: Input file has 449851 blocks, more than the 449850 that sector addresses up to "
       "99:59:74 allow!\n"},
      {449700, true, "\nUnexpected error reading input file!\n"},
      {449701, true,
       "Error: Input file has 449701 blocks, more than the 449700 that sector addresses up to "
       "99:59:74 allow with "
       "the postgap!\n"},
      // Past 4 GiB: the count is not cut to 32 bits.
      {2621440 + 1, false,
       "Error: Input file has 2621441 blocks, more than the 449850 that sector addresses up to "
       "99:59:74 allow!\n"},
  };
  for (const Case& c : cases) {
    ShortSource in(c.blocks * 2048, 0);
    FaultySink out(UINT64_MAX, false);
    const Outcome o = convert(in, out, c.postgap);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, c.err);
    const bool passes = c.err[0] == '\n';
    const std::string shown = "File contains 879Mb of data (" + std::to_string(c.blocks) +
                              " blocks)\nProcessing...\n 0% completed.\r";
    EXPECT_EQ(o.out, passes ? shown : "");
    EXPECT_TRUE(out.bytes.empty());
  }
}

}  // namespace
