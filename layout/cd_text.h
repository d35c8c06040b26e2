// CD-TEXT packs: built from a layout's disc and track texts (one block,
// English, ISO-8859-1), read from a .cdt file, checked, and decoded back
// into texts, every block (language) of them.
//
// A pack is 18 bytes: type, track number, sequence number, block and
// character position, 12 payload bytes, and a CRC-16 over the first 16
// bytes (subchannel_crc), stored big-endian. A block holds 256 packs at most,
// the last three its size information (type 8Fh).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "layout/disc_layout.h"

constexpr std::size_t CD_TEXT_PACK_SIZE = 18;
constexpr std::size_t CD_TEXT_PAYLOAD_SIZE = 12;
constexpr unsigned CD_TEXT_BLOCK_PACKS = 256;
constexpr unsigned CD_TEXT_SIZE_PACKS = 3;
constexpr unsigned CD_TEXT_MAX_BLOCKS = 8;

// Pack types.
constexpr uint8_t CD_TEXT_TITLE = 0x80;
constexpr uint8_t CD_TEXT_MESSAGE = 0x85;
constexpr uint8_t CD_TEXT_DISC_ID = 0x86;
constexpr uint8_t CD_TEXT_GENRE = 0x87;
constexpr uint8_t CD_TEXT_CODES = 0x8E;  // UPC/EAN of the disc, ISRC of each track
constexpr uint8_t CD_TEXT_SIZE_INFO = 0x8F;

// Packs built from a layout, and one line (no line end) for each text that
// ISO-8859-1 could not hold as it stands.
struct CdTextPacks {
  std::vector<uint8_t> packs;  // CD_TEXT_PACK_SIZE bytes each; empty: no CD-TEXT
  std::vector<std::string> warnings;
};

// The packs of one block for the layout's texts: TITLE, PERFORMER,
// SONGWRITER, COMPOSER, ARRANGER and MESSAGE (a text command, else a REM
// field of that name) for the disc and every track when any of them has
// one, DISC_ID, GENRE (its code where the name is a listed genre, with or
// without " music"; else "not defined"), UPC_EAN or the catalog number and
// each track's ISRC, then the size information. Texts are converted from
// UTF-8 to ISO-8859-1; a character it lacks becomes its nearest letters, or
// '?', and the text a warning "WARNING! CD-TEXT <FIELD> of track NN (of the
// disc) is recorded as "..."". A layout without any of these texts gives no
// packs. More than 253 packs besides the size information raise "The
// CD-TEXT of the CUE SHEET takes N packs, more than the 253 of one block".
CdTextPacks build_cd_text(const DiscLayout& layout);

// The packs of a .cdt file: packs one after another, with or without the
// 4-byte header of READ TOC format 5. Raises 'Unable to open file "%s"' when
// it cannot be read, and "CD-TEXT file "%s" is bad: ..." for a size that is
// no whole number of packs (more than 8 blocks' worth is refused too) or
// for a pack whose CRC is wrong ("pack N at byte B has a bad CRC").
std::vector<uint8_t> read_cd_text_file(const std::string& path);

// The packs a parsed cue sheet asks for: those of its CDTEXTFILE (found as
// image files are, relative to the current folder, else to `sheet_folder`)
// or those built from its texts, also when the CDTEXTFILE is not there
// (with the warning "WARNING! CDTEXTFILE "x.cdt" is not there: the CD-TEXT
// comes from the sheet's texts" first). Raises as the two above.
CdTextPacks cue_sheet_cd_text(const DiscLayout& layout, const std::string& sheet_folder);

// Whether the layout has a text that CD-TEXT carries (the fields of
// build_cd_text) or a CDTEXTFILE.
bool has_cd_text(const DiscLayout& layout);

// The first pack, counted from 0, whose CRC is wrong; -1 when all are right
// (a trailing part of a pack counts as a wrong one).
long bad_cd_text_pack(const uint8_t* packs, std::size_t bytes);

// What one block (one language) of a disc's CD-TEXT says: texts under the
// cue sheet's field names (TITLE, PERFORMER, ..., DISC_ID, GENRE, UPC_EAN
// for the disc, ISRC for a track), empty ones left out, a TAB standing for
// the previous track's text resolved, converted to UTF-8 from the block's
// character code (ISO-8859-1, ASCII, or MS-JIS through iconv, a character
// iconv cannot convert becoming '?').
struct CdTextBlock {
  unsigned number = 0;         // 0 to 7
  uint8_t language = 0;        // the language code of the size information
  uint8_t character_code = 0;  // 00h ISO-8859-1, 01h ASCII, 80h MS-JIS
  uint8_t first_track = 0;
  uint8_t last_track = 0;
  std::vector<SheetText> disc;
  std::array<std::vector<SheetText>, MAX_TRACKS + 1> tracks;  // by track number
  bool empty() const;
};

// The blocks of a disc's CD-TEXT that hold texts, in block order; the first
// is the one a cue sheet takes.
struct CdTextContents {
  std::vector<CdTextBlock> blocks;
  bool empty() const { return blocks.empty(); }
};

// Decodes `count` packs, each block by its own size information (a block
// without one read by its packs' double-byte bit); packs with a bad CRC and
// blocks of a character code other than the three are passed over.
CdTextContents decode_cd_text(const uint8_t* packs, std::size_t count);

// The name of a language code of the size information ("German"), or
// "language code NNh" for a code without one here.
std::string cd_text_language_name(uint8_t code);

// Puts a decoded block into a layout read from a disc: the disc's texts and
// each track entry's (by its track number) replace theirs; a track's ISRC
// goes into a track entry that has none.
void apply_cd_text(const CdTextBlock& block, DiscLayout* layout);

// ISO-8859-1 text as UTF-8.
std::string latin1_to_utf8(const std::string& text);

// UTF-8 text as ISO-8859-1; false when it holds a character beyond it (or
// a byte that is no UTF-8).
bool utf8_to_latin1(const std::string& text, std::string* out);

// The name of a genre code of pack 87h ("rock music"); "" for 0, 1 and
// codes past the list.
std::string cd_text_genre_name(uint16_t code);
