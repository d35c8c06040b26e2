// The error record thrown by the library and the message catalogue it is
// printed with. Every tool's main catches the record once (see run_tool in
// console.h), prints it and ends with status 1.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

// Message codes. -1..-35 are transport and sense states, -100.. library texts.
enum MessageCode : int32_t {
  MSG_NONE = 0,
  MSG_ASPI_INIT_FAILED = -1,
  MSG_ASPI_BUSY = -2,
  MSG_NO_DEVICE = -3,
  MSG_INVALID_REQUEST = -4,
  MSG_INVALID_HOST_ADAPTER = -5,
  MSG_INVALID_SRB = -6,
  MSG_REQUEST_ABORTED = -7,
  MSG_ABORT_FAILED = -8,
  MSG_UNEXPECTED_ASPI_ERROR = -9,
  MSG_TIMED_OUT = -10,
  MSG_REQUEST_EXPIRED = -11,
  MSG_MESSAGE_REJECT = -12,
  MSG_BUS_RESET = -13,
  MSG_PARITY_ERROR = -14,
  MSG_SENSE_FAILED = -15,
  MSG_SELECTION_TIMEOUT = -16,
  MSG_DATA_OVERRUN = -17,
  MSG_BUS_FREE = -18,
  MSG_BUS_FAILURE = -19,
  MSG_HOST_ADAPTER_ERROR = -20,
  MSG_TARGET_BUSY = -21,
  MSG_RESERVATION_CONFLICT = -22,
  MSG_TARGET_ERROR = -23,
  MSG_RECOVERED_ERROR = -24,
  MSG_NOT_READY = -25,
  MSG_MEDIUM_ERROR = -26,
  MSG_HARDWARE_ERROR = -27,
  MSG_ILLEGAL_REQUEST = -28,
  MSG_UNIT_ATTENTION = -29,
  MSG_BLANK_CHECK = -30,
  MSG_DEVICE_BUSY = -31,
  MSG_ABORTED_COMMAND = -32,
  MSG_VOLUME_OVERFLOW = -33,
  MSG_END_OF_MEDIUM = -34,
  MSG_SENSE_ERROR = -35,
  MSG_TEXT = -100,
  MSG_BUGCHECK = -101,
  MSG_NO_MEMORY = -102,
  MSG_COMMAND_FAILED = -103,
  MSG_SECTOR_READ_FAILED = -105,
  MSG_OPEN_FAILED = -106,
  MSG_CREATE_FAILED = -107,
  MSG_FILE_READ_FAILED = -108,
  MSG_FILE_WRITE_FAILED = -109,
  MSG_UNEXPECTED_EOF = -110,
  MSG_NO_LAST_READABLE = -111,
  MSG_CUE_SHEET_LINE = -112,
  MSG_INVALID_WAV = -113,
};

// One argument word of a message: an unsigned integer or a text.
struct MsgArg {
  bool is_text = false;
  uint32_t word = 0;
  std::string text;

  MsgArg() = default;
  template <typename T, typename = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
  MsgArg(T value) : word(static_cast<uint32_t>(value)) {}  // NOLINT(google-explicit-constructor)
  MsgArg(const char* value) : is_text(true), text(value ? value : "") {}  // NOLINT
  MsgArg(std::string value) : is_text(true), text(std::move(value)) {}    // NOLINT
  MsgArg(std::string_view value) : is_text(true), text(value) {}          // NOLINT
};

// Which of the two texts of MSG_SECTOR_READ_FAILED a record prints.
enum class ReadKind { Data, Audio };

// The error record: a message with up to eight arguments and an optional
// cause message with up to eight arguments of its own.
struct MSGVEC {
  int32_t code = 0;
  uint32_t arg_count = 0;
  int32_t cause_code = 0;
  uint32_t cause_arg_count = 0;
  std::array<MsgArg, 8> args{};
  std::array<MsgArg, 8> cause_args{};
  ReadKind read_kind = ReadKind::Data;
};

// One entry of the catalogue.
struct CatalogueEntry {
  int32_t code;
  uint32_t arg_count;
  const char* text;
};

// The whole catalogue in its order (MSG_SECTOR_READ_FAILED has two entries:
// AUDIO first, then DATA).
const CatalogueEntry* message_catalogue(std::size_t* count);

// The catalogue text of a code, or nullptr when the catalogue lacks it.
const char* message_text(int32_t code, ReadKind kind = ReadKind::Data);

// Formats a catalogue text with argument words; the result is never cut,
// whatever the length of a text argument. %s takes a text, %u/%lu/%d a word.
std::string format_message(const char* format, const std::array<MsgArg, 8>& args);

// Builds the record from the first arg_count arguments and the next
// cause_arg_count arguments, and throws it. Never returns.
[[noreturn]] void raise_message_vector(int32_t code, uint32_t arg_count, int32_t cause_code,
                                       uint32_t cause_arg_count, const MsgArg* args,
                                       std::size_t supplied, ReadKind kind = ReadKind::Data);

template <typename... Args>
[[noreturn]] void raise_message(int32_t code, uint32_t arg_count, int32_t cause_code,
                                uint32_t cause_arg_count, Args&&... args) {
  const MsgArg list[sizeof...(Args) + 1] = {MsgArg(std::forward<Args>(args))...};
  raise_message_vector(code, arg_count, cause_code, cause_arg_count, list, sizeof...(Args));
}

// Raises MSG_SECTOR_READ_FAILED for a span of sectors with the text of its kind.
[[noreturn]] void raise_sector_read_failure(ReadKind kind, uint32_t first_lba, uint32_t last_lba,
                                            uint32_t ha, uint32_t id, uint32_t lun,
                                            int32_t cause_code);

// The two lines a caught record prints: "\nError: %s\n" and, with a cause, "%s\n".
std::string message_vector_text(const MSGVEC& record);

// Prints message_vector_text on standard error.
void print_message_vector(const MSGVEC& record);
