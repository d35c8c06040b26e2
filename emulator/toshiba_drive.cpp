#include "emulator/toshiba_drive.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "common/byteorder.h"
#include "common/sector.h"
#include "emulator/cdrom_drive.h"

namespace {

constexpr uint8_t DENSITY_AUDIO = 0x82;
constexpr uint32_t Q_BLOCK = 2368;

struct Density {
  uint8_t code;
  std::vector<uint32_t> block_lengths;
};

const Density DENSITIES[] = {
    {0x00, {2048, 2336, 2340, 2352}},
    {0x81, {2048, 2336, 2340, 2352}},
    {DENSITY_AUDIO, {2352, Q_BLOCK}},
    {0x83, {2048}},
};

using State = std::shared_ptr<CdromDriveState>;

bool density_has(uint8_t code, uint32_t block_length) {
  for (const Density& density : DENSITIES) {
    if (density.code != code) continue;
    const std::vector<uint32_t>& lengths = density.block_lengths;
    return std::find(lengths.begin(), lengths.end(), block_length) != lengths.end();
  }
  return false;
}

EmulatedAnswer mode_select_toshiba(const EmulatedHandler& generic, EmulatedDevice& device,
                                   const EmulatedCommand& c) {
  const uint32_t length = std::min<uint32_t>(c.cdb[4], c.buffer ? c.buffer_length : 0);
  if (c.buffer != nullptr && length >= 12 && c.buffer[3] == 8 &&
      !density_has(c.buffer[4], get_be24(c.buffer + 9)))
    return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_PARAMETERS);
  return generic(device, c);
}

// The drive's 16 bytes after the audio, from the Q subchannel at `lba`.
void toshiba_q(const EmulatedDisc& disc, int32_t lba, uint8_t* sector) {
  std::array<uint8_t, 12> q{};
  disc.q_subchannel(lba, &q);
  uint8_t* out = sector + RAW_SECTOR_SIZE;
  std::memset(out, 0, Q_BLOCK - RAW_SECTOR_SIZE);
  out[0] = q[0] >> 4;                     // control
  out[1] = q[0] & 0x0F;                   // ADR
  std::memcpy(out + 2, q.data() + 1, 5);  // track, index, relative M:S:F
  std::memcpy(out + 7, q.data() + 7, 3);  // absolute M:S:F
}

EmulatedAnswer read_10_toshiba(const State& state, const EmulatedHandler& generic,
                               EmulatedDevice& device, const EmulatedCommand& c) {
  if (state->density != DENSITY_AUDIO) return generic(device, c);
  const EmulatedDisc* disc = device.medium_as<EmulatedDisc>();
  if (disc == nullptr) return EmulatedAnswer::check(SENSE_MEDIUM_NOT_PRESENT);
  AudioTail tail;
  if (state->block_length == Q_BLOCK)
    tail = [disc](int32_t lba, uint8_t* sector) { toshiba_q(*disc, lba, sector); };
  return read_audio_sectors(state, *disc, c, get_be32(c.cdb + 2), get_be16(c.cdb + 7),
                            state->block_length, tail);
}

}  // namespace

bool toshiba_drive_serves(const EmulatedDevice& device) {
  const uint8_t code = reader_model_code(device);
  return code >= 33 && code <= 35;
}

void install_toshiba_drive(EmulatedDevice& device) {
  const State state = install_cdrom_drive(device);
  state->block_lengths = {2048, 2336, 2340, 2352, Q_BLOCK};
  device.set_handler(EMU_OP_READ_CDDA, {});
  device.set_handler(EMU_OP_MODE_SELECT, [generic = device.handler(EMU_OP_MODE_SELECT)](
                                             EmulatedDevice& d, const EmulatedCommand& c) {
    return mode_select_toshiba(generic, d, c);
  });
  device.set_handler(EMU_OP_READ_10, [state, generic = device.handler(EMU_OP_READ_10)](
                                         EmulatedDevice& d, const EmulatedCommand& c) {
    return read_10_toshiba(state, generic, d, c);
  });
}
