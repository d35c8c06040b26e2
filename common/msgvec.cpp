#include "common/msgvec.h"

#include <cstdio>

namespace {

const CatalogueEntry kCatalogue[] = {
    {-1, 0, "Unable to initialize the ASPI manager"},
    {-2, 0, "ASPI manager is busy"},
    {-3, 0, "Device does not exist"},
    {-4, 0, "Invalid ASPI request"},
    {-5, 0, "Invalid host adapter number"},
    {-6, 0, "Invalid SCSI request block"},
    {-7, 0, "ASPI request aborted"},
    {-8, 0, "ASPI abort resuest failed"},
    {-9, 0, "Unexpected ASPI error"},
    {-10, 0, "Transaction timed out"},
    {-11, 0, "SCSI request expired"},
    {-12, 0, "Message reject received"},
    {-13, 0, "Bus reset detected"},
    {-14, 0, "Parity error detected"},
    {-15, 0, "SENSE request failed"},
    {-16, 0, "Device selection timed out"},
    {-17, 0, "Data overrun/underrun detected"},
    {-18, 0, "Bus free detected"},
    {-19, 0, "Bus failure detected"},
    {-20, 0, "Unexpected host adapter error"},
    {-21, 0, "Target is busy"},
    {-22, 0, "Target reservation conflict"},
    {-23, 0, "Unexpected target error"},
    {-24, 0, "I/O completed with recovery"},
    {-25, 0, "Device is not ready"},
    {-26, 0, "Bad medium detected"},
    {-27, 0, "Unrecoverable hardware error"},
    {-28, 0, "Illegal command request"},
    {-29, 0, "Unit attention"},
    {-30, 0, "Blank medium detected"},
    {-31, 0, "Device is busy"},
    {-32, 0, "Device aborted command"},
    {-33, 0, "Volume overflow"},
    {-34, 0, "End of medium detected"},
    {-35, 0, "Unexpected SENSE error"},
    {-100, 1, "%s"},
    {-101, 0, "Internal bugcheck detected"},
    {-102, 0, "Memory allocation request failed"},
    {-103, 4, "'%s' command failed on device %u:%u:%u"},
    {-105, 5, "Unable to read AUDIO sectors %lu to %lu on device %u:%u:%u"},
    {-105, 5, "Unable to read DATA sectors %lu to %lu on device %u:%u:%u"},
    {-106, 1, "Unable to open file \"%s\""},
    {-107, 1, "Unable to create file \"%s\""},
    {-108, 0, "Unexpected failure reading file (end-of-file?)"},
    {-109, 0, "Unexpected failure writing file (disk full?)"},
    {-110, 1, "Unexpected end-of-file reading \"%s\""},
    {-111, 0, "Unable to find last readable sector"},
    {-112, 1, "Invalid CUE SHEET command at line %u"},
    {-113, 1, "WAV file is invalid or not CDROM compatible"},
};

// A record whose code the catalogue lacks still prints something useful.
std::string unknown_code_text(int32_t code) { return "Unknown error code " + std::to_string(code); }

}  // namespace

const CatalogueEntry* message_catalogue(std::size_t* count) {
  *count = sizeof(kCatalogue) / sizeof(kCatalogue[0]);
  return kCatalogue;
}

const char* message_text(int32_t code, ReadKind kind) {
  bool skipped_audio = false;
  for (const CatalogueEntry& entry : kCatalogue) {
    if (entry.code != code) continue;
    if (code == MSG_SECTOR_READ_FAILED && kind == ReadKind::Data && !skipped_audio) {
      skipped_audio = true;
      continue;
    }
    return entry.text;
  }
  return nullptr;
}

std::string format_message(const char* format, const std::array<MsgArg, 8>& args) {
  std::string out;
  std::size_t next = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      out.push_back(*p);
      continue;
    }
    ++p;
    if (*p == '%') {
      out.push_back('%');
      continue;
    }
    while (*p == 'l' || *p == 'h') ++p;  // length modifiers: every word is 32 bits
    if (*p == '\0') break;
    const MsgArg empty;
    const MsgArg& arg = next < args.size() ? args[next] : empty;
    ++next;
    switch (*p) {
      case 's': out += arg.is_text ? arg.text : std::string("(null)"); break;
      case 'd':
      case 'i': out += std::to_string(static_cast<int32_t>(arg.word)); break;
      default:  // u, x and the rest print the word unsigned
        out += std::to_string(arg.word);
        break;
    }
  }
  return out;
}

void raise_message_vector(int32_t code, uint32_t arg_count, int32_t cause_code,
                          uint32_t cause_arg_count, const MsgArg* args, std::size_t supplied,
                          ReadKind kind) {
  MSGVEC record;
  record.code = code;
  record.arg_count = arg_count > 8 ? 8 : arg_count;
  record.cause_code = cause_code;
  record.cause_arg_count = cause_arg_count > 8 ? 8 : cause_arg_count;
  record.read_kind = kind;
  std::size_t taken = 0;
  for (uint32_t i = 0; i < record.arg_count && taken < supplied; ++i)
    record.args[i] = args[taken++];
  for (uint32_t i = 0; i < record.cause_arg_count && taken < supplied; ++i)
    record.cause_args[i] = args[taken++];
  throw record;
}

void raise_sector_read_failure(ReadKind kind, uint32_t first_lba, uint32_t last_lba, uint32_t ha,
                               uint32_t id, uint32_t lun, int32_t cause_code) {
  const MsgArg args[] = {first_lba, last_lba, ha, id, lun};
  raise_message_vector(MSG_SECTOR_READ_FAILED, 5, cause_code, 0, args, 5, kind);
}

std::string message_vector_text(const MSGVEC& record) {
  const char* text = message_text(record.code, record.read_kind);
  std::string out = "\nError: ";
  out += text ? format_message(text, record.args) : unknown_code_text(record.code);
  out += "\n";
  if (record.cause_code != 0) {
    const char* cause = message_text(record.cause_code, record.read_kind);
    out += cause ? format_message(cause, record.cause_args) : unknown_code_text(record.cause_code);
    out += "\n";
  }
  return out;
}

void print_message_vector(const MSGVEC& record) {
  const std::string text = message_vector_text(record);
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}
