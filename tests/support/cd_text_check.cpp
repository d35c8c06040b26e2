#include "support/cd_text_check.h"

#include <algorithm>
#include <cstdio>

namespace cd_text_check {

namespace {

constexpr std::size_t PACK = 18;

// CRC-16, polynomial x^16 + x^12 + x^5 + 1, initial 0, inverted: bit by bit
// through the polynomial's 17 bits.
unsigned crc(const unsigned char* bytes, std::size_t count) {
  unsigned long value = 0;
  for (std::size_t i = 0; i < count; ++i)
    for (int bit = 7; bit >= 0; --bit) {
      value = value << 1 | ((bytes[i] >> bit) & 1u);
      if (value & 0x10000) value ^= 0x11021;
    }
  for (int bit = 0; bit < 16; ++bit) {  // the 16 appended zero bits
    value <<= 1;
    if (value & 0x10000) value ^= 0x11021;
  }
  return static_cast<unsigned>(value ^ 0xFFFF) & 0xFFFF;
}

std::string fault(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

Result check(const std::string& bytes) {
  Result result;
  std::size_t skip = 0;
  if (bytes.size() % PACK == 4) skip = 4;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data()) + skip;
  const std::size_t count = (bytes.size() - skip) / PACK;
  if ((bytes.size() - skip) % PACK != 0 || count < 4) {
    result.faults.push_back(
        fault("%u bytes are not whole packs of a block", static_cast<unsigned>(bytes.size())));
    return result;
  }
  if (count > 256)
    result.faults.push_back(fault("%u packs in one block", static_cast<unsigned>(count)));
  // Size information.
  unsigned char info[36];
  for (int part = 0; part < 3; ++part) {
    const unsigned char* p = data + (count - 3 + part) * PACK;
    if (p[0] != 0x8F || p[1] != part)
      result.faults.push_back(fault("size information part %u missing", part));
    for (int b = 0; b < 12; ++b) info[part * 12 + b] = p[4 + b];
  }
  // Read first: the tracks that the texts belong to.
  result.first_track = info[1];
  result.last_track = info[2];
  if (info[0] != 0x00) result.faults.push_back(fault("character code %u", info[0]));
  if (info[20] != count - 1)
    result.faults.push_back(
        fault("last sequence number %u, not %u", info[20], static_cast<unsigned>(count - 1)));
  if (info[28] != 0x09) result.faults.push_back(fault("language %u, not English", info[28]));
  unsigned counts[16] = {};
  std::map<int, std::string> streams;
  std::map<int, int> first_of;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* p = data + i * PACK;
    const auto n = static_cast<unsigned>(i);
    if (crc(p, 16) != (p[16] * 256u + p[17])) result.faults.push_back(fault("pack %u: bad CRC", n));
    if (p[2] != i % 256) result.faults.push_back(fault("pack %u: sequence number %u", n, p[2]));
    if ((p[3] & 0xF0) != 0) result.faults.push_back(fault("pack %u: block or DBCC %u", n, p[3]));
    if (p[0] < 0x80 || p[0] > 0x8F) {
      result.faults.push_back(fault("pack %u: type %02X", n, p[0]));
      continue;
    }
    ++counts[p[0] - 0x80];
    const bool size_pack = p[0] == 0x8F;
    if (size_pack != (i + 3 >= count))
      result.faults.push_back(fault("pack %u: size information %u not the last three", n, p[0]));
    if (i > 0 && p[0] < data[(i - 1) * PACK])
      result.faults.push_back(fault("pack %u: type %02X after a later type", n, p[0]));
    if (size_pack) continue;
    std::string& stream = streams[p[0]];
    if (stream.empty()) first_of[p[0]] = p[1];
    // The track and character position the pack's first byte must have.
    if (p[0] != 0x87) {
      int track = first_of[p[0]];
      std::size_t start = 0;
      for (std::size_t at = 0; at < stream.size(); ++at)
        if (stream[at] == '\0') {
          track = track == 0 ? result.first_track : track + 1;
          start = at + 1;
        }
      const std::size_t position = std::min<std::size_t>(stream.size() - start, 15);
      if ((p[3] & 0x0F) != position)
        result.faults.push_back(fault("pack %u: character position %u, not %u", n, p[3] & 0x0F,
                                      static_cast<unsigned>(position)));
      if (p[1] != track)
        result.faults.push_back(fault("pack %u: track %u, not %u", n, p[1], track));
    }
    stream.append(reinterpret_cast<const char*>(p + 4), 12);
  }
  for (int type = 0; type < 16; ++type)
    if (info[4 + type] != counts[type])
      result.faults.push_back(fault("size information counts %u packs of type %02X, not %u",
                                    info[4 + type], 0x80 + type, counts[type]));
  // The texts.
  for (const auto& [type, stream] : streams) {
    if (type == 0x87) {
      const std::string text = stream.substr(2).c_str();
      result.texts[{type, 0}] = std::to_string((static_cast<unsigned char>(stream[0]) << 8) |
                                               static_cast<unsigned char>(stream[1])) +
                                ":" + text;
      continue;
    }
    int track = first_of.at(type);
    std::string previous;
    std::size_t at = 0;
    for (; at < stream.size() && track <= result.last_track;) {
      const std::size_t end = stream.find('\0', at);
      if (end == std::string::npos) {
        result.faults.push_back(fault("type %02X: a text without its end", type));
        break;
      }
      std::string text = stream.substr(at, end - at);
      if (text == "\t") text = previous;
      if (!text.empty()) result.texts[{type, track}] = text;
      previous = text;
      at = end + 1;
      track = track == 0 ? result.first_track : track + 1;
      if (type == 0x86) break;
    }
    for (; at < stream.size(); ++at)
      if (stream[at] != '\0') {
        result.faults.push_back(fault("type %02X: bytes after the last track's text", type));
        break;
      }
    if (type != 0x86 && track != result.last_track + 1 && at <= stream.size())
      result.faults.push_back(fault("type %02X: texts for %u tracks", type, track - 1));
  }
  return result;
}

std::string utf8(const std::string& latin1) {
  std::string out;
  for (const unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string build(const std::vector<Block>& blocks) {
  // Text packs of each block first: the size packs need all blocks' counts.
  std::vector<std::vector<std::string>> text_packs(blocks.size());
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const Block& block = blocks[b];
    const bool wide = block.character_code == 0x80;
    std::map<int, std::vector<int>> tracks_of;  // the disc (0) and every track, by type
    for (const auto& [key, text] : block.texts) tracks_of[key.first];
    for (auto& [type, tracks] : tracks_of) {
      tracks.push_back(0);
      for (int t = block.first_track; t <= block.last_track && type != 0x86; ++t)
        tracks.push_back(t);
    }
    for (const auto& [type, tracks] : tracks_of) {
      std::string stream;
      std::vector<std::pair<std::size_t, int>> starts;  // byte where each text starts, its track
      for (const int track : tracks) {
        starts.emplace_back(stream.size(), track);
        const auto found = block.texts.find({type, track});
        if (found != block.texts.end()) stream += found->second;
        stream.append(wide ? 2 : 1, '\0');
      }
      while (stream.size() % 12 != 0) stream += '\0';
      for (std::size_t at = 0; at < stream.size(); at += 12) {
        std::size_t owner = 0;
        while (owner + 1 < starts.size() && starts[owner + 1].first <= at) ++owner;
        const std::size_t characters = (at - starts[owner].first) / (wide ? 2 : 1);
        std::string pack = {
            static_cast<char>(type), static_cast<char>(starts[owner].second), 0,
            static_cast<char>((wide ? 0x80 : 0) | b << 4 | std::min<std::size_t>(characters, 15))};
        text_packs[b].push_back(pack + stream.substr(at, 12));
      }
    }
  }
  std::string bytes;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    unsigned char info[36] = {static_cast<unsigned char>(blocks[b].character_code),
                              static_cast<unsigned char>(blocks[b].first_track),
                              static_cast<unsigned char>(blocks[b].last_track)};
    for (const std::string& pack : text_packs[b]) ++info[4 + (pack[0] & 0x0F)];
    info[4 + 15] = 3;
    for (std::size_t other = 0; other < blocks.size(); ++other) {
      info[20 + other] = static_cast<unsigned char>(text_packs[other].size() + 2);
      info[28 + other] = static_cast<unsigned char>(blocks[other].language);
    }
    std::vector<std::string> packs = text_packs[b];
    for (int part = 0; part < 3; ++part)
      packs.push_back(std::string{static_cast<char>(0x8F), static_cast<char>(part), 0,
                                  static_cast<char>(b << 4)} +
                      std::string(reinterpret_cast<const char*>(info) + part * 12, 12));
    for (std::size_t i = 0; i < packs.size(); ++i) {
      std::string& pack = packs[i];
      pack[2] = static_cast<char>(i);
      const unsigned value = crc(reinterpret_cast<const unsigned char*>(pack.data()), 16);
      bytes += pack + static_cast<char>(value >> 8) + static_cast<char>(value & 0xFF);
    }
  }
  return bytes;
}

std::vector<std::string> text_lines(const Result& result) {
  std::vector<std::string> lines;
  for (const auto& [key, text] : result.texts) {
    char head[16];
    std::snprintf(head, sizeof head, "%02X %02d ", key.first, key.second);
    lines.push_back(head + utf8(text));
  }
  return lines;
}

}  // namespace cd_text_check
