#include "emulator/nec_drive.h"

#include <algorithm>

#include "common/byteorder.h"
#include "common/sector.h"
#include "emulator/cdrom_drive.h"

namespace {

constexpr uint8_t OP_READ_CDDA_NEC = 0xD4;
constexpr uint8_t ERROR_RECOVERY_PAGE = 0x01;

using State = std::shared_ptr<CdromDriveState>;

EmulatedAnswer read_cdda_nec(const State& state, EmulatedDevice& device, const EmulatedCommand& c) {
  const EmulatedDisc* disc = device.medium_as<EmulatedDisc>();
  if (disc == nullptr) return EmulatedAnswer::check(SENSE_MEDIUM_NOT_PRESENT);
  return read_audio_sectors(state, *disc, c, get_be32(c.cdb + 2), get_be16(c.cdb + 7),
                            RAW_SECTOR_SIZE);
}

EmulatedAnswer mode_select_nec(const EmulatedHandler& generic, EmulatedDevice& device,
                               const EmulatedCommand& c) {
  if (!(c.cdb[1] & 0x10)) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
  const uint32_t length = std::min<uint32_t>(c.cdb[4], c.buffer ? c.buffer_length : 0);
  if (c.buffer != nullptr && length >= 4 && c.buffer[3] != 0) {
    const uint32_t page = 4u + c.buffer[3];
    if (length < page + 2 || (c.buffer[page] & 0x3F) != ERROR_RECOVERY_PAGE)
      return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_PARAMETERS);
  }
  return generic(device, c);
}

}  // namespace

bool nec_drive_serves(const EmulatedDevice& device) {
  const uint8_t code = reader_model_code(device);
  return code >= 21 && code <= 24;
}

void install_nec_drive(EmulatedDevice& device) {
  const State state = install_cdrom_drive(device);
  device.set_handler(EMU_OP_READ_CDDA, {});
  device.set_handler(OP_READ_CDDA_NEC, bind_handler<read_cdda_nec>(state));
  device.set_handler(EMU_OP_MODE_SELECT, [generic = device.handler(EMU_OP_MODE_SELECT)](
                                             EmulatedDevice& d, const EmulatedCommand& c) {
    return mode_select_nec(generic, d, c);
  });
}
