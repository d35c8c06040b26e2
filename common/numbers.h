// Whole numbers as users and files write them: read in full and checked
// against their range, so that nothing wraps and nothing is left over.
#pragma once

#include <cstdint>
#include <string_view>

// A decimal number of digits only (no blank, sign or any other character
// before, inside or after them) that is not above `max`. False, leaving
// `value` alone, for anything else: empty text, a stray character, a number
// too large for `max` however many digits it has.
bool parse_decimal(std::string_view text, uint64_t max, uint64_t* value);

// The same in hexadecimal (0-9, a-f, A-F), with an optional "0x" or "0X".
bool parse_hex(std::string_view text, uint64_t max, uint64_t* value);
