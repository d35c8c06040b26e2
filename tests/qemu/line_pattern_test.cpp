// The output patterns of the virtual machine cases: a pattern that cannot
// fail would let any output pass.
#include "qemu/line_pattern.h"

#include <gtest/gtest.h>

TEST(LinePattern, LiteralLinesMatchOnlyThemselvesWhole) {
  EXPECT_TRUE(matches_line_pattern("a\nb\n", "a\nb\n"));
  EXPECT_FALSE(matches_line_pattern("a\nb\n", "a\nb\nc\n"));
  EXPECT_FALSE(matches_line_pattern("a\nb\n", "a\nb"));
  EXPECT_FALSE(matches_line_pattern("a\n", "ab\n"));
  EXPECT_TRUE(matches_line_pattern("", ""));
  EXPECT_FALSE(matches_line_pattern("", "\n"));
}

TEST(LinePattern, AnyTextStaysWithinItsLine) {
  EXPECT_TRUE(matches_line_pattern("ID #3 - {*} rev\n", "ID #3 - QEMU rev\n"));
  EXPECT_TRUE(matches_line_pattern("ID #3 - {*} rev\n", "ID #3 -  rev\n"));
  EXPECT_FALSE(matches_line_pattern("ID #3 - {*} rev\n", "ID #3 - QEMU\nrev\n"));
  EXPECT_TRUE(matches_line_pattern("x = {*}\ny = {*}\n", "x = 1\ny = 22\n"));
  EXPECT_FALSE(matches_line_pattern("x = {*}\n", "x = 1\nx = 2\n"));
}

TEST(LinePattern, AnyLinesTakesNoneOrMore) {
  const std::string pattern = "{...}\nSCSI 0:3:0 {*}, result 1\nend\n";
  EXPECT_TRUE(matches_line_pattern(pattern, "SCSI 0:3:0 [00], result 1\nend\n"));
  EXPECT_TRUE(matches_line_pattern(pattern, "one\ntwo\nSCSI 0:3:0 [00], result 1\nend\n"));
  EXPECT_FALSE(matches_line_pattern(pattern, "one\nSCSI 0:3:0 [00], result -25\nend\n"));
  EXPECT_FALSE(matches_line_pattern(pattern, "SCSI 0:3:0 [00], result 1\nend\nmore\n"));
}
