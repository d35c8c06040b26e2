// The products the emulated drives are: each INQUIRY product name with the
// kind of device and the class of its family that it belongs to (the class
// numbers are those the makers' drivers know the models by). The emulated
// drive models choose their family from this table, which the emulator keeps
// apart from the drivers' model tables (scsi/models.h), so that a wrong row
// in either shows as a difference between the two, not as two sides that
// agree on the same mistake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class EmulatedKind : uint8_t { READER, RECORDER, TRANSPORTER };

struct EmulatedProduct {
  const char* product;  // as INQUIRY gives it, without the trailing blanks
  EmulatedKind kind;
  uint8_t drive_class;
};

// Every product in the table, recorders first.
const std::vector<EmulatedProduct>& emulated_products();

// The row of a product name (trailing blanks do not count), or null.
const EmulatedProduct* find_emulated_product(const std::string& product);
