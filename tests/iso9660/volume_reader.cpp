#include "volume_reader.h"

#include <gtest/gtest.h>

uint32_t le16_at(const std::vector<uint8_t>& b, std::size_t o) {
  return b.at(o) | (uint32_t{b.at(o + 1)} << 8);
}
uint32_t be16_at(const std::vector<uint8_t>& b, std::size_t o) {
  return (uint32_t{b.at(o)} << 8) | b.at(o + 1);
}

uint32_t le32_at(const std::vector<uint8_t>& b, std::size_t o) {
  return b.at(o) | (uint32_t{b.at(o + 1)} << 8) | (uint32_t{b.at(o + 2)} << 16) |
         (uint32_t{b.at(o + 3)} << 24);
}

uint32_t be32_at(const std::vector<uint8_t>& b, std::size_t o) {
  return (uint32_t{b.at(o)} << 24) | (uint32_t{b.at(o + 1)} << 16) | (uint32_t{b.at(o + 2)} << 8) |
         b.at(o + 3);
}

uint32_t both32_at(const std::vector<uint8_t>& b, std::size_t o) {
  EXPECT_EQ(le32_at(b, o), be32_at(b, o + 4)) << "both-order field at " << o;
  return le32_at(b, o);
}

std::string text_at(const std::vector<uint8_t>& b, std::size_t o, std::size_t n) {
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(o),
                     b.begin() + static_cast<std::ptrdiff_t>(o + n));
}

std::vector<ReadRecord> read_directory(const std::vector<uint8_t>& volume, uint32_t block,
                                       uint32_t sectors) {
  std::vector<ReadRecord> records;
  const std::size_t start = std::size_t{block} * 2048;
  const std::size_t end = start + std::size_t{sectors} * 2048;
  std::size_t at = start;
  while (at < end) {
    const uint32_t length = volume.at(at);
    if (length == 0) {
      at = (at / 2048 + 1) * 2048;
      continue;
    }
    ReadRecord record;
    record.offset = at;
    record.length = length;
    record.extent = both32_at(volume, at + 2);
    record.size = both32_at(volume, at + 10);
    for (int i = 0; i < 7; ++i) record.date[i] = volume.at(at + 18 + static_cast<std::size_t>(i));
    record.flags = volume.at(at + 25);
    const uint32_t id_length = volume.at(at + 32);
    record.identifier = text_at(volume, at + 33, id_length);
    record.after_identifier = text_at(volume, at + 33 + id_length, length - 33 - id_length);
    EXPECT_EQ(at / 2048, (at + length - 1) / 2048)
        << "record crosses a sector: " << record.identifier;
    records.push_back(record);
    at += length;
  }
  return records;
}

std::vector<std::string> names_in(const std::vector<ReadRecord>& records) {
  std::vector<std::string> names;
  for (std::size_t i = 2; i < records.size(); ++i) names.push_back(records[i].identifier);
  return names;
}

ReadRecord find_record(const std::vector<ReadRecord>& records, const std::string& identifier) {
  for (const ReadRecord& record : records)
    if (record.identifier == identifier) return record;
  ADD_FAILURE() << "no record " << identifier;
  return ReadRecord{};
}
