#include "layout/cd_text.h"

#include <iconv.h>
#include <locale.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/console.h"
#include "common/msgvec.h"
#include "common/regular_file.h"
#include "common/sector.h"
#include "common/text.h"
#include "layout/cue_encoding.h"
#include "layout/image_lookup.h"

namespace {

// Field names of the text pack types 80h to 86h.
constexpr const char* kTextFields[] = {"TITLE",    "PERFORMER", "SONGWRITER", "COMPOSER",
                                       "ARRANGER", "MESSAGE",   "DISC_ID"};
constexpr unsigned kTrackTextTypes = 6;  // 80h to 85h go to every track

constexpr const char* kGenres[] = {"",
                                   "",
                                   "adult contemporary",
                                   "alternative rock",
                                   "children's music",
                                   "classical",
                                   "contemporary christian",
                                   "country",
                                   "dance",
                                   "easy listening",
                                   "erotic",
                                   "folk",
                                   "gospel",
                                   "hip hop",
                                   "jazz",
                                   "latin",
                                   "musical",
                                   "new age",
                                   "opera",
                                   "operetta",
                                   "pop music",
                                   "rap",
                                   "reggae",
                                   "rock music",
                                   "rhythm and blues",
                                   "sound effects",
                                   "spoken word",
                                   "world music"};
constexpr uint16_t GENRE_NOT_DEFINED = 1;
constexpr uint8_t LANGUAGE_ENGLISH = 0x09;
constexpr uint8_t CHARACTERS_LATIN1 = 0x00;
constexpr uint8_t CHARACTERS_ASCII = 0x01;
constexpr uint8_t CHARACTERS_MS_JIS = 0x80;
constexpr std::pair<uint8_t, const char*> kLanguages[] = {
    {0x00, "unknown language"}, {0x08, "German"},  {0x09, "English"}, {0x0A, "Spanish"},
    {0x0F, "French"},           {0x15, "Italian"}, {0x69, "Japanese"}};
constexpr std::size_t FORMAT5_HEADER = 4;
constexpr char TAB = '\t';

// The first value a layout gives a field in `texts`: the text command, else
// the REM field of the same name.
const std::string* field_value(const std::vector<SheetText>& texts, const char* keyword) {
  const SheetText* rem = nullptr;
  for (const SheetText& text : texts) {
    if (text.keyword != keyword) continue;
    if (!text.rem) return &text.value;
    if (rem == nullptr) rem = &text;
  }
  return rem != nullptr ? &rem->value : nullptr;
}

// One code point of UTF-8 from `at`; an ill-formed byte reads as U+FFFD.
uint32_t next_code_point(const std::string& text, std::size_t* at) {
  const auto lead = static_cast<unsigned char>(text[(*at)++]);
  if (lead < 0x80) return lead;
  const unsigned extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (extra == 0) return 0xFFFD;
  uint32_t point = lead & (0x3F >> extra);
  for (unsigned i = 0; i < extra; ++i) {
    if (*at >= text.size() || (static_cast<unsigned char>(text[*at]) & 0xC0) != 0x80) return 0xFFFD;
    point = point << 6 | (static_cast<unsigned char>(text[(*at)++]) & 0x3F);
  }
  return point;
}

// The converter that transliterates what ISO-8859-1 lacks.
class Transliterator {
 public:
  // The C locale knows no close letters; C.UTF-8 has the tables (a system
  // without it gives '?' for every letter ISO-8859-1 lacks).
  Transliterator()
      : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)),
        cd_(iconv_open("ISO-8859-1//TRANSLIT", "UTF-8")) {}
  ~Transliterator() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    if (locale_ != nullptr) freelocale(locale_);
  }
  Transliterator(const Transliterator&) = delete;
  Transliterator& operator=(const Transliterator&) = delete;

  // The close letters of one character, or "?" when it has none.
  std::string letters(std::string character) const {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return "?";
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char out[16];
    char* in = character.data();
    std::size_t in_left = character.size();
    char* to = out;
    std::size_t out_left = sizeof out;
    const locale_t previous = locale_ != nullptr ? uselocale(locale_) : nullptr;
    const std::size_t converted = iconv(cd_, &in, &in_left, &to, &out_left);
    if (previous != nullptr) uselocale(previous);
    if (converted == static_cast<std::size_t>(-1) || to == out) return "?";
    std::string result(out, to);
    for (const char c : result)
      if (c == '?' || static_cast<unsigned char>(c) < 0x20) return "?";
    return result;
  }

 private:
  locale_t locale_;
  iconv_t cd_;
};

// `text` in ISO-8859-1; false when a character had to be changed.
bool to_latin1(const Transliterator& transliterator, const std::string& text, std::string* out) {
  out->clear();
  bool kept = true;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t from = at;
    const uint32_t point = next_code_point(text, &at);
    if (point >= 0x20 && point < 0x100 && !(point >= 0x7F && point < 0xA0)) {
      *out += static_cast<char>(point);
      continue;
    }
    kept = false;
    *out += point < 0x20 ? "?" : transliterator.letters(text.substr(from, at - from));
  }
  return kept;
}

uint16_t genre_code(const std::string& name) {
  for (uint16_t code = 2; code < sizeof kGenres / sizeof kGenres[0]; ++code) {
    const std::string listed = kGenres[code];
    const std::size_t music = listed.rfind(" music");
    if (strcasecmp(name.c_str(), listed.c_str()) == 0 ||
        (music != std::string::npos && music + 6 == listed.size() &&
         strcasecmp(name.c_str(), listed.substr(0, music).c_str()) == 0))
      return code;
  }
  return GENRE_NOT_DEFINED;
}

// Packs under construction, in sequence order.
class PackWriter {
 public:
  // Cuts a type's texts (one for the disc, then one per track from
  // `first_track`, each ending in its zero) into packs.
  void add(uint8_t type, uint8_t first_track, const std::vector<std::string>& texts) {
    std::string stream;
    std::vector<std::size_t> starts;
    for (const std::string& text : texts) {
      starts.push_back(stream.size());
      stream += text;
      stream += '\0';
    }
    for (std::size_t at = 0; at < stream.size(); at += CD_TEXT_PAYLOAD_SIZE) {
      const std::size_t text =
          std::upper_bound(starts.begin(), starts.end(), at) - starts.begin() - 1;
      uint8_t pack[CD_TEXT_PACK_SIZE] = {type};
      pack[1] = static_cast<uint8_t>(text == 0 ? 0 : first_track + text - 1);
      pack[3] = static_cast<uint8_t>(std::min<std::size_t>(at - starts[text], 15));
      stream.copy(reinterpret_cast<char*>(pack + 4), CD_TEXT_PAYLOAD_SIZE, at);
      put(pack);
    }
    counts_[type & 0x0F] = static_cast<uint8_t>(
        counts_[type & 0x0F] + (stream.size() + CD_TEXT_PAYLOAD_SIZE - 1) / CD_TEXT_PAYLOAD_SIZE);
  }

  // The three size information packs; raises when the block is too full.
  void finish(uint8_t first_track, uint8_t last_track) {
    const std::size_t used = packs_.size() / CD_TEXT_PACK_SIZE;
    if (used > CD_TEXT_BLOCK_PACKS - CD_TEXT_SIZE_PACKS)
      raise_message(MSG_TEXT, 1, 0, 0,
                    format_text("The CD-TEXT of the CUE SHEET takes %zu packs, more than the %u "
                                "of one block",
                                used, CD_TEXT_BLOCK_PACKS - CD_TEXT_SIZE_PACKS));
    counts_[CD_TEXT_SIZE_INFO & 0x0F] = CD_TEXT_SIZE_PACKS;
    uint8_t info[CD_TEXT_SIZE_PACKS * CD_TEXT_PAYLOAD_SIZE] = {CHARACTERS_LATIN1, first_track,
                                                               last_track};
    std::copy(counts_.begin(), counts_.end(), info + 4);
    info[20] = static_cast<uint8_t>(used + CD_TEXT_SIZE_PACKS - 1);
    info[28] = LANGUAGE_ENGLISH;
    for (uint8_t part = 0; part < CD_TEXT_SIZE_PACKS; ++part) {
      uint8_t pack[CD_TEXT_PACK_SIZE] = {CD_TEXT_SIZE_INFO, part};
      std::memcpy(pack + 4, info + part * CD_TEXT_PAYLOAD_SIZE, CD_TEXT_PAYLOAD_SIZE);
      put(pack);
    }
  }

  std::vector<uint8_t> take() { return std::move(packs_); }

 private:
  void put(uint8_t* pack) {
    pack[2] = static_cast<uint8_t>(packs_.size() / CD_TEXT_PACK_SIZE);  // block 0 only
    const uint16_t crc = subchannel_crc(pack, 16);
    pack[16] = static_cast<uint8_t>(crc >> 8);
    pack[17] = static_cast<uint8_t>(crc);
    packs_.insert(packs_.end(), pack, pack + CD_TEXT_PACK_SIZE);
  }

  std::vector<uint8_t> packs_;
  std::array<uint8_t, 16> counts_{};
};

std::string track_name(unsigned number) {
  return number == 0 ? "of the disc" : format_text("of track %02u", number);
}

[[noreturn]] void bad_file(const std::string& path, const std::string& why) {
  raise_message(MSG_TEXT, 1, 0, 0,
                format_text("CD-TEXT file \"%s\" is bad: %s", path.c_str(), why.c_str()));
}

}  // namespace

std::string latin1_to_utf8(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | byte >> 6);
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

bool utf8_to_latin1(const std::string& text, std::string* out) {
  out->clear();
  for (std::size_t at = 0; at < text.size();) {
    const uint32_t point = next_code_point(text, &at);
    if (point >= 0x100 || point == 0xFFFD) return false;
    *out += static_cast<char>(point);
  }
  return true;
}

CdTextPacks build_cd_text(const DiscLayout& layout) {
  CdTextPacks result;
  const unsigned tracks = std::min<unsigned>(layout.track_count, MAX_TRACKS);
  if (tracks == 0) return result;
  const uint8_t first = layout.tracks[0].track_number;
  const uint8_t last = layout.tracks[tracks - 1].track_number;
  const Transliterator transliterator;
  // A field's text in ISO-8859-1, warned about when it changed.
  auto latin1 = [&](const std::string* value, const char* field, unsigned track) {
    std::string text;
    if (value != nullptr && !to_latin1(transliterator, *value, &text))
      result.warnings.push_back(format_text("WARNING! CD-TEXT %s %s is recorded as \"%s\"", field,
                                            track_name(track).c_str(),
                                            latin1_to_utf8(text).c_str()));
    return text;
  };
  PackWriter writer;
  bool any = false;
  for (unsigned type = 0; type <= kTrackTextTypes; ++type) {
    const char* field = kTextFields[type];
    std::vector<const std::string*> values = {field_value(layout.disc_texts, field)};
    if (type < kTrackTextTypes)
      for (unsigned t = 0; t < tracks; ++t)
        values.push_back(field_value(layout.track_texts[t], field));
    if (std::all_of(values.begin(), values.end(), [](const std::string* v) { return !v; }))
      continue;
    std::vector<std::string> plain, texts;
    for (unsigned i = 0; i < values.size(); ++i) {
      plain.push_back(latin1(values[i], field, i == 0 ? 0 : layout.tracks[i - 1].track_number));
      // A track's text equal to the previous track's goes as a TAB.
      const bool repeated = i >= 2 && !plain[i].empty() && plain[i] == plain[i - 1];
      texts.push_back(repeated ? std::string(1, TAB) : plain[i]);
    }
    writer.add(static_cast<uint8_t>(CD_TEXT_TITLE + type), first, texts);
    any = true;
  }
  if (const std::string* genre = field_value(layout.disc_texts, "GENRE")) {
    const std::string name = latin1(genre, "GENRE", 0);
    const uint16_t code = genre_code(name);
    std::string payload = {static_cast<char>(code >> 8), static_cast<char>(code)};
    writer.add(CD_TEXT_GENRE, first, {payload + name});
    any = true;
  }
  std::vector<std::string> codes;
  if (const std::string* upc = field_value(layout.disc_texts, "UPC_EAN")) {
    codes.push_back(latin1(upc, "UPC_EAN", 0));
  } else if (layout.layout_flags & LAYOUT_MCN) {
    codes.emplace_back(layout.catalog_number.data(), layout.catalog_number.size());
  } else {
    codes.emplace_back();
  }
  bool any_code = !codes[0].empty();
  for (unsigned t = 0; t < tracks; ++t) {
    const TrackEntry& track = layout.tracks[t];
    codes.push_back(track.track_flags & TRACK_ISRC ? std::string(track.isrc.data(), 12) : "");
    any_code = any_code || !codes.back().empty();
  }
  if (any_code && any) writer.add(CD_TEXT_CODES, first, codes);
  if (!any) return result;
  writer.finish(first, last);
  result.packs = writer.take();
  return result;
}

long bad_cd_text_pack(const uint8_t* packs, std::size_t bytes) {
  const std::size_t count = bytes / CD_TEXT_PACK_SIZE;
  for (std::size_t i = 0; i < count; ++i) {
    const uint8_t* pack = packs + i * CD_TEXT_PACK_SIZE;
    if (subchannel_crc(pack, 16) != (pack[16] << 8 | pack[17])) return static_cast<long>(i);
  }
  return bytes % CD_TEXT_PACK_SIZE != 0 ? static_cast<long>(count) : -1;
}

std::vector<uint8_t> read_cd_text_file(const std::string& path) {
  constexpr std::size_t limit =
      FORMAT5_HEADER + CD_TEXT_MAX_BLOCKS * CD_TEXT_BLOCK_PACKS * CD_TEXT_PACK_SIZE;
  std::string data;
  switch (read_regular_file(path, limit, &data)) {
    case FileReading::Read: break;
    case FileReading::TooLarge: bad_file(path, "it holds more than 8 blocks of packs");
    case FileReading::NotRegular:
      raise_message(MSG_OPEN_FAILED, 1, MSG_TEXT, 1, path, "Not a regular file");
    default: raise_message(MSG_OPEN_FAILED, 1, 0, 0, path);
  }
  std::size_t skip = 0;
  if (data.size() % CD_TEXT_PACK_SIZE == FORMAT5_HEADER &&
      ((static_cast<unsigned char>(data[0]) << 8) | static_cast<unsigned char>(data[1])) + 2u ==
          data.size())
    skip = FORMAT5_HEADER;
  const std::size_t bytes = data.size() - skip;
  if (bytes == 0 || bytes % CD_TEXT_PACK_SIZE != 0)
    bad_file(path, format_text("%zu bytes are no whole number of %zu-byte packs", data.size(),
                               CD_TEXT_PACK_SIZE));
  const auto* packs = reinterpret_cast<const uint8_t*>(data.data() + skip);
  const long bad = bad_cd_text_pack(packs, bytes);
  if (bad >= 0)
    bad_file(path, format_text("pack %ld at byte %zu has a bad CRC", bad + 1,
                               skip + static_cast<std::size_t>(bad) * CD_TEXT_PACK_SIZE));
  return std::vector<uint8_t>(packs, packs + bytes);
}

CdTextPacks cue_sheet_cd_text(const DiscLayout& layout, const std::string& sheet_folder) {
  const SheetText* file = nullptr;
  for (const SheetText& text : layout.disc_texts)
    if (!text.rem && text.keyword == "CDTEXTFILE" && file == nullptr) file = &text;
  if (file == nullptr) return build_cd_text(layout);
  for (const std::string& candidate : image_candidates(file->value, sheet_folder))
    if (access(candidate.c_str(), F_OK) == 0) {
      CdTextPacks result;
      result.packs = read_cd_text_file(candidate);
      return result;
    }
  // Rippers name a file they did not keep beside the sheet.
  CdTextPacks result = build_cd_text(layout);
  result.warnings.insert(result.warnings.begin(),
                         format_text("WARNING! CDTEXTFILE \"%s\" is not there: the CD-TEXT "
                                     "comes from the sheet's texts",
                                     file->value.c_str()));
  return result;
}

bool has_cd_text(const DiscLayout& layout) {
  auto any = [](const std::vector<SheetText>& texts) {
    for (const SheetText& text : texts) {
      for (const char* field : kTextFields)
        if (text.keyword == field) return true;
      if (text.keyword == "GENRE" || text.keyword == "UPC_EAN" ||
          (text.keyword == "CDTEXTFILE" && !text.rem))
        return true;
    }
    return false;
  };
  if (any(layout.disc_texts)) return true;
  for (unsigned t = 0; t < layout.track_count && t < MAX_TRACK_ENTRIES; ++t)
    if (any(layout.track_texts[t])) return true;
  return false;
}

bool CdTextBlock::empty() const {
  if (!disc.empty()) return false;
  return std::all_of(tracks.begin(), tracks.end(), [](const auto& t) { return t.empty(); });
}

namespace {

// The packs of one block, gathered by type.
struct GatheredBlock {
  std::array<std::string, 16> streams;
  std::array<int, 16> first_track;  // of each type's first pack; -1: none
  std::array<bool, 16> double_byte{};
  std::array<uint8_t, CD_TEXT_SIZE_PACKS * CD_TEXT_PAYLOAD_SIZE> info{};
  unsigned info_parts = 0;  // bit N: size information part N seen
  GatheredBlock() { first_track.fill(-1); }
};

// A text of a block in UTF-8: MS-JIS through iconv (a system without the
// converter keeps the ASCII letters and shows '?' for the others), the
// single-byte codes as ISO-8859-1.
std::string block_text_utf8(const std::string& text, uint8_t character_code) {
  if (character_code != CHARACTERS_MS_JIS) return latin1_to_utf8(text);
  std::string out;
  if (convert_to_utf8(text, "CP932", &out, true) || convert_to_utf8(text, "SHIFT_JIS", &out, true))
    return out;
  for (const char c : text) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
  return out;
}

void decode_block(const GatheredBlock& gathered, CdTextBlock* block) {
  auto put = [&](unsigned track, const char* field, const std::string& text) {
    if (text.empty() || track > MAX_TRACKS) return;
    SheetText entry{field, block_text_utf8(text, block->character_code), false};
    (track == 0 ? block->disc : block->tracks[track]).push_back(std::move(entry));
  };
  for (unsigned type = 0; type < 16; ++type) {
    if (gathered.first_track[type] < 0) continue;
    const std::string& stream = gathered.streams[type];
    if (type == (CD_TEXT_GENRE & 0x0F)) {
      if (stream.size() < 2) continue;
      const uint16_t code = static_cast<uint16_t>(static_cast<unsigned char>(stream[0]) << 8 |
                                                  static_cast<unsigned char>(stream[1]));
      const std::string name = stream.c_str() + 2;
      put(0, "GENRE", name.empty() ? cd_text_genre_name(code) : name);
      continue;
    }
    const bool codes = type == (CD_TEXT_CODES & 0x0F);
    if (type >= sizeof kTextFields / sizeof kTextFields[0] && !codes) continue;
    // Double-byte texts end in two zero bytes and repeat the previous
    // track's with two TABs; no MS-JIS character holds a zero byte.
    const bool double_byte = gathered.double_byte[type];
    const std::string tab(double_byte ? 2 : 1, TAB);
    unsigned track = static_cast<unsigned>(gathered.first_track[type]);
    std::string previous;
    for (std::size_t at = 0; at < stream.size(); ++track) {
      const std::size_t end = std::min(stream.find('\0', at), stream.size());
      std::string text = stream.substr(at, end - at);
      at = end + (double_byte && end + 1 < stream.size() && stream[end + 1] == '\0' ? 2 : 1);
      if (text == tab && track > 1) text = previous;
      previous = text;
      if (block->last_track != 0 && track > block->last_track) break;
      const char* field = codes ? (track == 0 ? "UPC_EAN" : "ISRC") : kTextFields[type];
      if (type == (CD_TEXT_DISC_ID & 0x0F) && track != 0) break;
      put(track, field, text);
      if (track == 0 && block->first_track > 1) track = block->first_track - 1u;
    }
  }
}

}  // namespace

CdTextContents decode_cd_text(const uint8_t* packs, std::size_t count) {
  std::array<GatheredBlock, CD_TEXT_MAX_BLOCKS> gathered;
  for (std::size_t i = 0; i < count; ++i) {
    const uint8_t* pack = packs + i * CD_TEXT_PACK_SIZE;
    if (pack[0] < CD_TEXT_TITLE || subchannel_crc(pack, 16) != (pack[16] << 8 | pack[17])) continue;
    GatheredBlock& block = gathered[(pack[3] >> 4) & 0x07];
    const unsigned type = pack[0] & 0x0F;
    if (type == (CD_TEXT_SIZE_INFO & 0x0F)) {
      if (pack[1] < CD_TEXT_SIZE_PACKS) {
        std::memcpy(block.info.data() + pack[1] * CD_TEXT_PAYLOAD_SIZE, pack + 4,
                    CD_TEXT_PAYLOAD_SIZE);
        block.info_parts |= 1u << pack[1];
      }
      continue;
    }
    if (block.first_track[type] < 0) {
      if ((pack[3] & 0x0F) != 0) continue;  // a text begun in a pack that is not there
      block.first_track[type] = pack[1];
    }
    block.double_byte[type] = block.double_byte[type] || (pack[3] & 0x80) != 0;
    block.streams[type].append(reinterpret_cast<const char*>(pack + 4), CD_TEXT_PAYLOAD_SIZE);
  }
  // Every block's size information lists the languages of all blocks.
  std::array<uint8_t, CD_TEXT_MAX_BLOCKS> languages{};
  for (const GatheredBlock& block : gathered)
    if (block.info_parts & 4u)
      for (unsigned b = 0; b < CD_TEXT_MAX_BLOCKS; ++b)
        if (languages[b] == 0) languages[b] = block.info[28 + b];
  CdTextContents contents;
  for (unsigned b = 0; b < CD_TEXT_MAX_BLOCKS; ++b) {
    const GatheredBlock& found = gathered[b];
    CdTextBlock block;
    block.number = b;
    block.language = found.info_parts & 4u ? found.info[28 + b] : languages[b];
    const bool any_double = std::find(found.double_byte.begin(), found.double_byte.end(), true) !=
                            found.double_byte.end();
    block.character_code = found.info_parts & 1u ? found.info[0]
                           : any_double          ? CHARACTERS_MS_JIS
                                                 : CHARACTERS_LATIN1;
    if (found.info_parts & 1u) {
      block.first_track = found.info[1];
      block.last_track = found.info[2];
    }
    if (block.character_code != CHARACTERS_LATIN1 && block.character_code != CHARACTERS_ASCII &&
        block.character_code != CHARACTERS_MS_JIS)
      continue;
    decode_block(found, &block);
    if (!block.empty()) contents.blocks.push_back(std::move(block));
  }
  return contents;
}

std::string cd_text_language_name(uint8_t code) {
  for (const auto& [listed, name] : kLanguages)
    if (listed == code) return name;
  return format_text("language code %02Xh", code);
}

void apply_cd_text(const CdTextBlock& block, DiscLayout* layout) {
  layout->disc_texts = block.disc;
  for (unsigned i = 0; i < layout->track_count && i < MAX_TRACK_ENTRIES; ++i) {
    TrackEntry& track = layout->tracks[i];
    std::vector<SheetText>& texts = layout->track_texts[i];
    texts.clear();
    if (track.track_number == 0 || track.track_number > MAX_TRACKS) continue;
    for (const SheetText& text : block.tracks[track.track_number]) {
      if (text.keyword != "ISRC") {
        texts.push_back(text);
      } else if (!(track.track_flags & TRACK_ISRC) && text.value.size() == 12) {
        std::copy(text.value.begin(), text.value.end(), track.isrc.begin());
        track.track_flags |= TRACK_ISRC;
      }
    }
  }
}

std::string cd_text_genre_name(uint16_t code) {
  return code < sizeof kGenres / sizeof kGenres[0] ? kGenres[code] : "";
}
