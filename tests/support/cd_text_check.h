// A checker of CD-TEXT packs written from the format's description alone
// (not from the suite's code): every pack's CRC, the sequence numbers, the
// character positions and track numbers of the text packs, the size
// information, and the texts the packs spell out.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cd_text_check {

struct Result {
  std::vector<std::string> faults;  // empty when the packs are sound
  // (pack type, track number) -> text as the packs hold it (ISO-8859-1
  // bytes), a TAB replaced by the previous track's text; genre as
  // "code:text".
  std::map<std::pair<int, int>, std::string> texts;
  int first_track = 0, last_track = 0;
};

// Checks one block of packs (18 bytes each), optionally behind the 4-byte
// header of READ TOC format 5.
Result check(const std::string& bytes);

// `texts` of a result as "TYPE TRACK TEXT" lines in UTF-8, TYPE the pack
// type in hex ("80"), in key order.
std::vector<std::string> text_lines(const Result& result);

// ISO-8859-1 bytes as UTF-8.
std::string utf8(const std::string& latin1);

// One block to build: its texts ((pack type, track number) -> the bytes of
// the block's character code; a track without a text of a type that others
// have is left empty).
struct Block {
  int language = 0x09;
  int character_code = 0x00;  // 0x80: double-byte texts, each ending in two zeros
  int first_track = 1, last_track = 1;
  std::map<std::pair<int, int>, std::string> texts;
};

// The packs of `blocks` (block numbers 0, 1, ... in order), built from the
// format: each block's text packs by type, then its three size packs that
// list every block's language and last sequence number.
std::string build(const std::vector<Block>& blocks);

}  // namespace cd_text_check
