// Big-endian fields as SCSI command blocks and parameter data carry them,
// little-endian fields as files carry them, and ISO9660 both-order fields.
#pragma once

#include <cstdint>

inline void put_be16(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
}

inline void put_be24(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 16);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value);
}

inline void put_be32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

inline uint32_t get_be16(const uint8_t* in) { return (uint32_t{in[0]} << 8) | in[1]; }

inline uint32_t get_be24(const uint8_t* in) {
  return (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
}

inline uint32_t get_be32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

// Little-endian fields, as WAV files, sector EDC words and ISO9660 carry them.
inline void put_le16(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

inline void put_le32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t get_le16(const uint8_t* in) { return in[0] | (uint32_t{in[1]} << 8); }

inline uint32_t get_le32(const uint8_t* in) {
  return in[0] | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) | (uint32_t{in[3]} << 24);
}

// ISO9660's both-byte-order fields: the little-endian value, then the big-endian one.
inline void put_both16(uint8_t* out, uint32_t value) {
  put_le16(out, value);
  put_be16(out + 2, value);
}

inline void put_both32(uint8_t* out, uint32_t value) {
  put_le32(out, value);
  put_be32(out + 4, value);
}
