// Reads back the structures of a volume held in memory, for checks: fields
// in both byte orders, directory records, path table records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

uint32_t le16_at(const std::vector<uint8_t>& bytes, std::size_t offset);
uint32_t be16_at(const std::vector<uint8_t>& bytes, std::size_t offset);
uint32_t le32_at(const std::vector<uint8_t>& bytes, std::size_t offset);
uint32_t be32_at(const std::vector<uint8_t>& bytes, std::size_t offset);
// A both-byte-order field; a mismatch between its halves is a test failure.
uint32_t both32_at(const std::vector<uint8_t>& bytes, std::size_t offset);
std::string text_at(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t length);

struct ReadRecord {
  std::size_t offset = 0;  // in the volume
  uint32_t length = 0;
  uint32_t extent = 0;
  uint32_t size = 0;
  uint8_t date[7] = {};
  uint8_t flags = 0;
  std::string identifier;        // as the length byte counts it
  std::string after_identifier;  // the bytes up to the record's end
};

// The records of the directory extent at `block` of `sectors` sectors, "."
// and ".." included; sector tails of zeros are skipped.
std::vector<ReadRecord> read_directory(const std::vector<uint8_t>& volume, uint32_t block,
                                       uint32_t sectors);

// The identifiers of a directory's records after "." and "..".
std::vector<std::string> names_in(const std::vector<ReadRecord>& records);

// The record with this identifier (a test failure when there is none).
ReadRecord find_record(const std::vector<ReadRecord>& records, const std::string& identifier);
