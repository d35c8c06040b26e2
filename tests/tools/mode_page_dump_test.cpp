// The mode page dump reads the pages where the drive put them: after the
// block descriptors the header announces, one or none.
#include <gtest/gtest.h>

#include <vector>

#include "tools/discinfo/disc_info.h"

namespace {

// "page code/page length" lines of the first `count` pages of a dump.
std::string first_pages(const std::string& dump, int count) {
  std::size_t at = 0;
  for (int line = 0; line < 2 * count && at != std::string::npos; ++line)
    at = dump.find('\n', at) + 1;
  return dump.substr(0, at);
}

}  // namespace

TEST(ModePageDump, PagesFollowTheAnnouncedBlockDescriptors) {
  // Error recovery page 01 of 6 bytes, then page 2A of 4 bytes.
  const std::vector<uint8_t> pages = {0x01, 0x06, 0, 5, 0, 0, 0, 0, 0x2A, 0x04, 0, 0, 0, 0};
  std::vector<uint8_t> with_descriptor = {0x19, 0x01, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0};
  with_descriptor.insert(with_descriptor.end(), pages.begin(), pages.end());
  with_descriptor.resize(212);
  std::vector<uint8_t> without_descriptor = {0x11, 0, 0, 0};
  without_descriptor.insert(without_descriptor.end(), pages.begin(), pages.end());
  without_descriptor.resize(212);

  const std::string expected =
      "page code   = 01\npage length = 6\npage code   = 2A\npage length = 4\n";
  const std::string one = mode_page_dump(with_descriptor.data(), with_descriptor.size());
  const std::string none = mode_page_dump(without_descriptor.data(), without_descriptor.size());
  EXPECT_EQ(first_pages(one, 2), expected);
  EXPECT_EQ(first_pages(none, 2), expected);
  EXPECT_EQ(one, none);  // twelve pages each, the rest zero
}

TEST(ModePageDump, WalkStaysInsideTheData) {
  // A block descriptor length past the end, and a page that claims more
  // bytes than there are: nothing is read outside the buffer.
  const std::vector<uint8_t> past_end = {0x03, 0, 0, 0xF0};
  EXPECT_EQ(mode_page_dump(past_end.data(), past_end.size()), "");
  const std::vector<uint8_t> short_answer = {0x05, 0, 0, 0, 0x2A, 0xFF};
  EXPECT_EQ(mode_page_dump(short_answer.data(), short_answer.size()),
            "page code   = 2A\npage length = 255\n");
  EXPECT_EQ(mode_page_dump(short_answer.data(), 3), "");
}
