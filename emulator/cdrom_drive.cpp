#include "emulator/cdrom_drive.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/byteorder.h"
#include "common/numbers.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "emulator/products.h"

namespace {

constexpr uint8_t ALL_PAGES = 0x3F;
constexpr uint64_t MAX_BAD_LBA = 450000;
constexpr uint8_t ERROR_RECOVERY_PAGE = 0x01;
constexpr uint8_t WRITE_PARAMETERS_PAGE = 0x05;
constexpr uint8_t AUDIO_STATUS_NONE = 0x15;  // no current audio status to return
constexpr SenseCondition SENSE_SAVING_NOT_SUPPORTED{SENSE_KEY_ILLEGAL_REQUEST, 0x39, 0x00};

using State = std::shared_ptr<CdromDriveState>;

EmulatedDisc* disc_of(const EmulatedDevice& device) { return device.medium_as<EmulatedDisc>(); }

EmulatedAnswer no_disc() { return EmulatedAnswer::check(SENSE_MEDIUM_NOT_PRESENT); }

// CHECK CONDITION naming the LBA where a read stopped.
EmulatedAnswer read_failure(SenseCondition sense, int32_t lba) {
  EmulatedAnswer answer = EmulatedAnswer::check(sense);
  answer.information_valid = true;
  answer.information = static_cast<uint32_t>(lba);
  return answer;
}

// The pages a CD-ROM drive of the time reports, with their current values.
std::map<uint8_t, std::vector<uint8_t>> default_pages() {
  return {
      {0x01, {0x01, 0x06, 0x00, 0x05, 0, 0, 0, 0}},                    // error recovery
      {0x02, {0x02, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},  // disconnect
      {0x0D, {0x0D, 0x06, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x4B}},        // CD-ROM parameters
      {0x0E, {0x0E, 0x0E, 0x04, 0, 0, 0, 0, 0, 0x01, 0xFF, 0x02, 0xFF, 0, 0, 0, 0}},  // audio
      {0x2A, {0x2A, 0x14, 0x00, 0x00, 0x01, 0x0F, 0x29, 0x00, 0x06, 0x90,  // capabilities
              0x01, 0x00, 0x01, 0x00, 0x06, 0x90, 0,    0,    0,    0,    0, 0}},
  };
}

// Bytes of a page the host may change: the error recovery flags and retry
// count, and every byte of the write parameters page and of vendor pages
// that a recorder adds.
std::vector<uint8_t> changeable_mask(const std::vector<uint8_t>& page) {
  std::vector<uint8_t> mask(page.size(), 0);
  mask[0] = page[0];
  mask[1] = page[1];
  if (page[0] == ERROR_RECOVERY_PAGE) {
    mask[2] = 0xFF;
    mask[3] = 0xFF;
  } else if ((page[0] >= 0x20 && page[0] != 0x2A) || page[0] == WRITE_PARAMETERS_PAGE) {
    std::fill(mask.begin() + 2, mask.end(), 0xFF);
  }
  return mask;
}

// MODE SENSE(6) and MODE SENSE(10): the same block descriptor and pages
// behind a header of 4 or 8 bytes.
EmulatedAnswer mode_sense(const State& state, EmulatedDevice& device, const EmulatedCommand& c) {
  const bool ten_byte = c.cdb[0] == EMU_OP_MODE_SENSE_10;
  const uint8_t page_code = c.cdb[2] & 0x3F;
  const uint8_t page_control = c.cdb[2] >> 6;
  const bool no_descriptor = (c.cdb[1] & 0x08) != 0;
  if (page_control == 3) return EmulatedAnswer::check(SENSE_SAVING_NOT_SUPPORTED);
  if (page_code != ALL_PAGES && page_code != 0 && !state->pages.count(page_code))
    return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
  const std::size_t header_length = ten_byte ? 8 : 4;
  std::vector<uint8_t> data(header_length, 0);
  const EmulatedDisc* disc = disc_of(device);
  if (disc != nullptr) {
    bool audio = false, data_tracks = false;
    for (const DiscTrack& track : disc->tracks()) (track.is_data() ? data_tracks : audio) = true;
    // medium type
    data[ten_byte ? 2 : 1] = static_cast<uint8_t>(data_tracks ? (audio ? 0x03 : 0x01) : 0x02);
  }
  if (!no_descriptor) {
    data[header_length - 1] = 8;  // block descriptor length
    const uint8_t descriptor[8] = {state->density,
                                   0,
                                   0,
                                   0,
                                   0,
                                   static_cast<uint8_t>(state->block_length >> 16),
                                   static_cast<uint8_t>(state->block_length >> 8),
                                   static_cast<uint8_t>(state->block_length)};
    data.insert(data.end(), descriptor, descriptor + 8);
  }
  for (const auto& [code, page] : state->pages) {
    if (page_code != ALL_PAGES && page_code != code) continue;
    std::vector<uint8_t> values = page;
    if (page_control == 1) values = changeable_mask(page);
    if (page_control == 2) {
      const auto defaults = default_pages();
      const auto found = defaults.find(code);
      if (found != defaults.end()) values = found->second;
    }
    data.insert(data.end(), values.begin(), values.end());
  }
  if (ten_byte) {
    put_be16(data.data(), static_cast<uint32_t>(data.size() - 2));
    c.send_data(data.data(), static_cast<uint32_t>(data.size()), get_be16(c.cdb + 7));
  } else {
    data[0] = static_cast<uint8_t>(std::min<std::size_t>(data.size() - 1, 0xFF));
    c.send_data(data.data(), static_cast<uint32_t>(data.size()), c.cdb[4]);
  }
  return EmulatedAnswer::good();
}

EmulatedAnswer mode_select(const State& state, EmulatedDevice&, const EmulatedCommand& c) {
  const uint32_t length = std::min<uint32_t>(c.cdb[4], c.buffer ? c.buffer_length : 0);
  if (c.direction != SRB_DIR_OUT || (length > 0 && c.buffer == nullptr))
    return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
  if (length == 0) return EmulatedAnswer::good();
  if (length < 4) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_PARAMETERS);
  const uint8_t* data = c.buffer;
  const uint32_t descriptor_length = data[3];
  if ((descriptor_length != 0 && descriptor_length != 8) || 4 + descriptor_length > length)
    return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_PARAMETERS);
  uint32_t block_length = state->block_length;
  uint8_t density = state->density;
  if (descriptor_length == 8) {
    density = data[4];
    block_length = get_be24(data + 9);
    const std::vector<uint32_t>& lengths = state->block_lengths;
    if (std::find(lengths.begin(), lengths.end(), block_length) == lengths.end())
      return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_PARAMETERS);
  }
  // Check every page before changing anything.
  std::vector<std::pair<uint8_t, std::vector<uint8_t>>> changes;
  for (uint32_t at = 4 + descriptor_length; at < length;) {
    if (at + 2 > length) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_PARAMETERS);
    const uint8_t code = data[at] & 0x3F;
    const uint32_t size = data[at + 1] + 2u;
    const auto found = state->pages.find(code);
    if (found == state->pages.end() || found->second.size() != size || at + size > length)
      return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_PARAMETERS);
    const std::vector<uint8_t> mask = changeable_mask(found->second);
    std::vector<uint8_t> page = found->second;
    for (uint32_t i = 2; i < size; ++i)
      page[i] = static_cast<uint8_t>((page[i] & ~mask[i]) | (data[at + i] & mask[i]));
    if (state->check_page) {
      if (const std::optional<SenseCondition> refused = state->check_page(page))
        return EmulatedAnswer::check(*refused);
    }
    changes.emplace_back(code, std::move(page));
    at += size;
  }
  state->block_length = block_length;
  state->density = density;
  for (auto& [code, page] : changes) state->pages[code] = std::move(page);
  return EmulatedAnswer::good();
}

EmulatedAnswer start_stop(const State& state, EmulatedDevice& device, const EmulatedCommand& c) {
  const bool start = c.cdb[4] & 0x01;
  const bool load_eject = c.cdb[4] & 0x02;
  if (load_eject) move_tray(*state, device, start);
  return EmulatedAnswer::good();
}

EmulatedAnswer read_capacity(const State&, EmulatedDevice& device, const EmulatedCommand& c) {
  const EmulatedDisc* disc = disc_of(device);
  if (disc == nullptr) return no_disc();
  uint8_t data[8];
  put_be32(data, static_cast<uint32_t>(disc->leadout() - 1));
  put_be32(data + 4, 2048);
  c.send_data(data, 8, 8);
  return EmulatedAnswer::good();
}

void put_address(uint8_t* out, int32_t lba, bool msf) {
  if (!msf) {
    put_be32(out, static_cast<uint32_t>(lba));
    return;
  }
  const MsfTime time = lba_to_msf(lba);
  out[0] = 0;
  out[1] = time.minute;
  out[2] = time.second;
  out[3] = time.frame;
}

void put_toc_descriptor(std::vector<uint8_t>& data, uint8_t control, uint8_t track, int32_t lba,
                        bool msf) {
  uint8_t descriptor[8] = {0, static_cast<uint8_t>(0x10 | control), track, 0};
  put_address(descriptor + 4, lba, msf);
  data.insert(data.end(), descriptor, descriptor + 8);
}

EmulatedAnswer read_toc(const State& state, EmulatedDevice& device, const EmulatedCommand& c) {
  const EmulatedDisc* disc = disc_of(device);
  if (disc == nullptr) return no_disc();
  const bool msf = c.cdb[1] & 0x02;
  // The format in byte 2, or in bits 6-7 of the control byte as older hosts send it.
  const uint8_t format = (c.cdb[2] & 0x0F) ? (c.cdb[2] & 0x0F) : (c.cdb[9] >> 6);
  const uint8_t start = c.cdb[6];
  const std::vector<DiscTrack>& tracks = disc->tracks();
  std::vector<uint8_t> data(4, 0);
  if (format == 0) {
    // A hidden first track is not listed; the header begins with the next.
    const uint8_t listed = std::max(state->toc_first_track, tracks.front().number);
    data[2] = std::min(listed, tracks.back().number);
    data[3] = tracks.back().number;
    if (start > tracks.back().number && start != LEADOUT_TRACK)
      return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
    for (const DiscTrack& track : tracks)
      if (track.number >= start && track.number >= listed && start != LEADOUT_TRACK)
        put_toc_descriptor(data, track.control, track.number, track.index1_lba, msf);
    put_toc_descriptor(data, tracks.back().control, LEADOUT_TRACK, disc->leadout(), msf);
  } else if (format == 1) {
    // A recorder tells its last closed session; a pressed disc its last one.
    const std::vector<uint8_t>& sessions = disc->session_first_tracks();
    const bool recorder_told = state->last_session_track != 0;
    data[2] = 1;
    data[3] = recorder_told || sessions.empty() ? state->last_session
                                                : static_cast<uint8_t>(sessions.size());
    const DiscTrack* first = disc->track_number(
        recorder_told || sessions.empty() ? state->last_session_track : sessions.back());
    if (first == nullptr) first = &tracks.front();
    put_toc_descriptor(data, first->control, first->number, first->index1_lba, msf);
  } else if (format == 5 && state->reads_cd_text) {
    // The packs after the header; a disc without CD-TEXT has none.
    data.insert(data.end(), disc->cd_text().begin(), disc->cd_text().end());
  } else if (format == 2) {
    data = full_toc_answer(*disc, start);
    if (data.empty()) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
    c.send_data(data.data(), static_cast<uint32_t>(data.size()), get_be16(c.cdb + 7));
    return EmulatedAnswer::good();
  } else {
    return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
  }
  put_be16(data.data(), static_cast<uint32_t>(data.size() - 2));
  c.send_data(data.data(), static_cast<uint32_t>(data.size()), get_be16(c.cdb + 7));
  return EmulatedAnswer::good();
}

EmulatedAnswer read_subchannel(const State& state, EmulatedDevice& device,
                               const EmulatedCommand& c) {
  const EmulatedDisc* disc = disc_of(device);
  if (disc == nullptr) return no_disc();
  const bool msf = c.cdb[1] & 0x02;
  const bool subq = c.cdb[2] & 0x40;
  const uint8_t format = c.cdb[3];
  std::vector<uint8_t> data(4, 0);
  data[1] = AUDIO_STATUS_NONE;
  if (subq) {
    const int32_t frame = state->position + LBA_OFFSET_FRAMES;
    if (format == 1) {
      const DiscTrack* track = disc->track_at(state->position);
      data.resize(16, 0);
      data[4] = 0x01;
      if (track != nullptr) {
        data[5] = static_cast<uint8_t>(0x10 | track->control);
        data[6] = track->number;
        data[7] = track->index_at(state->position);
        put_address(&data[8], state->position, msf);
        const int32_t relative = state->position - track->index1_lba;
        if (msf) {
          const MsfTime time = frames_to_msf(std::abs(relative));
          data[13] = time.minute;
          data[14] = time.second;
          data[15] = time.frame;
        } else {
          put_be32(&data[12], static_cast<uint32_t>(relative));
        }
      }
    } else if (format == 2) {
      data.resize(24, 0);
      data[4] = 0x02;
      if (disc->has_catalog()) {
        data[8] = 0x80;
        std::memcpy(&data[9], disc->catalog().data(), 13);
        data[23] = static_cast<uint8_t>(frame % FRAMES_PER_SECOND);
      }
    } else if (format == 3) {
      const DiscTrack* track = disc->track_number(c.cdb[6]);
      if (track == nullptr) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
      data.resize(24, 0);
      data[4] = 0x03;
      data[5] = static_cast<uint8_t>(0x30 | track->control);
      data[6] = track->number;
      if (track->has_isrc) {
        data[8] = 0x80;
        std::memcpy(&data[9], track->isrc.data(), 12);
        data[23] = static_cast<uint8_t>(frame % FRAMES_PER_SECOND);
      }
    } else {
      return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
    }
  }
  put_be16(&data[2], static_cast<uint32_t>(data.size() - 4));
  c.send_data(data.data(), static_cast<uint32_t>(data.size()), get_be16(c.cdb + 7));
  return EmulatedAnswer::good();
}

// The checks every sector of a read passes in order; a failure ends the read there.
std::optional<EmulatedAnswer> unreadable(const CdromDriveState& state, const EmulatedDisc& disc,
                                         int32_t lba, bool audio_read, bool any_track) {
  const DiscTrack* track = disc.track_at(lba);
  if (lba < 0 || track == nullptr) return read_failure(SENSE_LBA_OUT_OF_RANGE, lba);
  if (!any_track && track->is_data() == audio_read)
    return read_failure(SENSE_ILLEGAL_MODE_FOR_TRACK, lba);
  if ((lba >= state.bad_first && lba <= state.bad_last) || !disc.readable(lba))
    return read_failure(SENSE_UNRECOVERED_READ_ERROR, lba);
  return std::nullopt;
}

// Reads `count` sectors of `size` bytes each with `fill` straight into the
// host's buffer, stopping at the first sector that cannot be read and at the
// end of the host's buffer. An audio read stops at a data track and a data
// read at an audio track, unless `any_track`.
template <typename Fill>
EmulatedAnswer read_sectors(const State& state, const EmulatedDisc& disc, const EmulatedCommand& c,
                            uint32_t lba, uint32_t count, uint32_t size, bool audio_read,
                            bool any_track, Fill fill) {
  const uint32_t room = c.buffer == nullptr ? 0 : c.buffer_length / size;
  const bool to_host = c.buffer != nullptr && c.direction == SRB_DIR_IN;
  std::vector<uint8_t> unsent(to_host ? 0 : size);
  std::optional<EmulatedAnswer> failure;
  // Past the lead-out fails whether or not the host left room for it.
  const uint64_t end = uint64_t{lba} + count;
  if (end > static_cast<uint64_t>(disc.leadout()))
    failure = read_failure(SENSE_LBA_OUT_OF_RANGE,
                           std::max<int32_t>(disc.leadout(), static_cast<int32_t>(lba)));
  const uint32_t in_range = failure ? (lba < static_cast<uint32_t>(disc.leadout())
                                           ? static_cast<uint32_t>(disc.leadout()) - lba
                                           : 0)
                                    : count;
  for (uint32_t i = 0; i < std::min(in_range, room); ++i) {
    const auto at = static_cast<int32_t>(lba + i);
    if (auto stop = unreadable(*state, disc, at, audio_read, any_track)) {
      failure = stop;
      break;
    }
    fill(at, to_host ? c.buffer + std::size_t{i} * size : unsent.data());
    if (to_host) c.wrote_in_place((i + 1) * size);
    state->position = at;
    ++state->sectors_read;
  }
  return failure ? *failure : EmulatedAnswer::good();
}

EmulatedAnswer read_10(const State& state, EmulatedDevice& device, const EmulatedCommand& c) {
  const EmulatedDisc* disc = disc_of(device);
  if (disc == nullptr) return no_disc();
  const uint32_t lba = get_be32(c.cdb + 2);
  const uint32_t count = get_be16(c.cdb + 7);
  const uint32_t size = state->block_length;
  if (size > RAW_SECTOR_SIZE) return EmulatedAnswer::check(SENSE_ILLEGAL_MODE_FOR_TRACK);
  const bool raw_read = size == RAW_SECTOR_SIZE;
  // A recorder that reads audio with READ(10) takes either kind of track.
  const bool any_track = raw_read && state->audio_by_read10;
  // Audio read this way jitters as READ CD-DA does; the offset is taken at
  // the first audio sector of the command.
  std::optional<ShiftedAudioReader> audio;
  return read_sectors(state, *disc, c, lba, count, size, false, any_track,
                      [&](int32_t at, uint8_t* out) {
                        uint8_t raw[RAW_SECTOR_SIZE];
                        const bool data = disc->track_at(at)->is_data();
                        if (!data && any_track) {
                          if (!audio) audio.emplace(*disc, state->jitter.next_shift_bytes());
                          audio->read(at, raw);
                        } else {
                          disc->read_sector(at, raw);
                        }
                        if (raw_read) {
                          transform_sector(raw, !data && state->audio_by_read10, false,
                                           data && state->scrambled_raw_data);
                          std::memcpy(out, raw, size);
                          return;
                        }
                        // User data of mode 1 after the header, of mode 2 form 1
                        // after the subheader.
                        std::size_t offset = RAW_SECTOR_SIZE - size;
                        if (size == DATA_BLOCK_SIZE)
                          offset = raw[15] == 2 ? MODE2_DATA_OFFSET : SECTOR_DATA_OFFSET;
                        std::memcpy(out, raw + offset, size);
                      });
}

// The Q frame of a sector in the qfault= range as its first read gives it:
// the index byte wrong, the CRC as it was, so that the CRC fails.
void damage_q_once(CdromDriveState& state, int32_t lba, uint8_t* q) {
  if (lba < state.qfault_first || lba > state.qfault_last) return;
  if (!state.q_damaged.insert(lba).second) return;
  q[2] = 0x99;
}

EmulatedAnswer read_cdda(const State& state, EmulatedDevice& device, const EmulatedCommand& c) {
  const EmulatedDisc* disc = disc_of(device);
  if (disc == nullptr) return no_disc();
  const uint32_t lba = get_be32(c.cdb + 2);
  const uint32_t count = get_be32(c.cdb + 6);
  const uint8_t format = c.cdb[10];
  static constexpr uint32_t sizes[] = {2352, 2368, 2448, 96};
  if (format > 3) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
  return read_audio_sectors(state, *disc, c, lba, count, sizes[format],
                            [&](int32_t at, uint8_t* out) {
                              if (format != 3 && state->swapped_cdda)
                                transform_sector(out, true, false, false);
                              if (format == 1) {
                                std::array<uint8_t, 12> q{};
                                disc->q_subchannel(at, &q);
                                damage_q_once(*state, at, q.data());
                                std::memset(out + RAW_SECTOR_SIZE, 0, 16);
                                std::memcpy(out + RAW_SECTOR_SIZE, q.data(), q.size());
                              } else if (format >= 2) {
                                disc->subcode(at, out + (format == 2 ? RAW_SECTOR_SIZE : 0));
                              }
                            });
}

EmulatedAnswer rezero_unit(const State& state, EmulatedDevice& device, const EmulatedCommand&) {
  if (disc_of(device) == nullptr) return no_disc();
  state->jitter.rezero();
  return EmulatedAnswer::good();
}

// toc_first=N
void take_toc_first(EmulatedDevice& device, CdromDriveState* state) {
  const std::optional<std::string> item = device.take_item("toc_first");
  if (!item) return;
  uint64_t track = 0;
  if (!parse_decimal(*item, MAX_TRACKS, &track) || track == 0)
    throw EmulatedBusError("bad item \"toc_first=" + *item + "\" (a track number, 1 to 99)");
  state->toc_first_track = static_cast<uint8_t>(track);
}

// read_count=PATH
void take_read_count(EmulatedDevice& device, CdromDriveState* state) {
  const std::optional<std::string> item = device.take_item("read_count");
  if (!item) return;
  if (item->empty()) throw EmulatedBusError("bad item \"read_count=\" (a file to write)");
  state->read_count_path = *item;
}

}  // namespace

CdromDriveState::~CdromDriveState() {
  if (read_count_path.empty()) return;
  if (std::FILE* file = std::fopen(read_count_path.c_str(), "w")) {
    std::fprintf(file, "%llu\n", static_cast<unsigned long long>(sectors_read));
    std::fclose(file);
  }
}

void take_lba_range(EmulatedDevice& device, const std::string& key, int32_t* first, int32_t* last) {
  const std::optional<std::string> item = device.take_item(key);
  if (!item) return;
  const std::size_t dash = item->find('-');
  uint64_t from = 0;
  bool read = parse_decimal(item->substr(0, dash), MAX_BAD_LBA, &from);
  uint64_t to = from;
  if (read && dash != std::string::npos)
    read = parse_decimal(item->substr(dash + 1), MAX_BAD_LBA, &to);
  if (!read || to < from)
    throw EmulatedBusError("bad item \"" + key + "=" + *item + "\" (FIRST[-LAST], LBAs)");
  *first = static_cast<int32_t>(from);
  *last = static_cast<int32_t>(to);
}

EmulatedAnswer read_audio_sectors(const std::shared_ptr<CdromDriveState>& state,
                                  const EmulatedDisc& disc, const EmulatedCommand& c, uint32_t lba,
                                  uint32_t count, uint32_t size, const AudioTail& tail) {
  const bool audio = size >= RAW_SECTOR_SIZE;
  // The audio lands off by the jitter; what follows it stays with the sector asked for.
  ReadDefects& defects = state->defects;
  ShiftedAudioReader reader(
      disc, audio ? state->jitter.next_shift_bytes() + defects.offset_bytes() : 0,
      [&](int32_t at, uint8_t* sector, uint8_t* c2) { defects.read_sector(disc, at, sector, c2); });
  std::array<uint8_t, ReadDefects::C2_BYTES> c2{};
  const EmulatedAnswer answer =
      read_sectors(state, disc, c, lba, count, size, true, false, [&](int32_t at, uint8_t* out) {
        if (audio) {
          reader.read(at, out, c2.data());
          defects.delivered(c2.data());
        }
        if (tail) tail(at, out);
      });
  return answer;
}

bool medium_is_cue_sheet(const EmulatedDevice& device) {
  const std::string& medium = device.medium_item();
  return medium.size() > 4 && strcasecmp(medium.c_str() + medium.size() - 4, ".cue") == 0;
}

void move_tray(CdromDriveState& state, EmulatedDevice& device, bool load) {
  state.tray_open = !load;
  if (load) {
    if (state.ejected) device.set_medium(std::move(state.ejected));
  } else if (device.medium() != nullptr) {
    state.ejected = device.take_medium();
  }
}

bool cdrom_drive_serves(const EmulatedDevice& device) {
  if (!device.takes_media()) return false;
  // A recorder reads a pressed disc given as a cue sheet; its other media
  // belong to the recorder models.
  return medium_is_cue_sheet(device) || recorder_model_code(device) == 0;
}

namespace {

uint8_t product_class(const EmulatedDevice& device, EmulatedKind kind) {
  const EmulatedProduct* row = find_emulated_product(device.identity().product);
  return row != nullptr && row->kind == kind ? row->drive_class : 0;
}

}  // namespace

uint8_t recorder_model_code(const EmulatedDevice& device) {
  return product_class(device, EmulatedKind::RECORDER);
}

uint8_t reader_model_code(const EmulatedDevice& device) {
  if (!device.takes_media()) return 0;
  return product_class(device, EmulatedKind::READER);
}

std::shared_ptr<CdromDriveState> install_cdrom_drive(EmulatedDevice& device) {
  std::shared_ptr<CdromDriveState> state = install_cdrom_commands(device);
  if (!device.medium_item().empty()) {
    std::unique_ptr<EmulatedDisc> disc = EmulatedDisc::load(device.medium_item());
    device.add_medium_files([files = disc->files()] { return files; });
    device.set_medium(std::move(disc));
  }
  return state;
}

std::shared_ptr<CdromDriveState> install_cdrom_commands(EmulatedDevice& device) {
  auto state = std::make_shared<CdromDriveState>();
  state->pages = default_pages();
  take_lba_range(device, "bad", &state->bad_first, &state->bad_last);
  take_lba_range(device, "qfault", &state->qfault_first, &state->qfault_last);
  take_toc_first(device, state.get());
  take_read_count(device, state.get());
  state->jitter.take_items(device);
  state->defects.take_items(device);
  device.set_handler(EMU_OP_REZERO_UNIT, bind_handler<rezero_unit>(state));
  device.set_handler(EMU_OP_MODE_SELECT, bind_handler<mode_select>(state));
  device.set_handler(EMU_OP_MODE_SENSE, bind_handler<mode_sense>(state));
  device.set_handler(EMU_OP_MODE_SENSE_10, bind_handler<mode_sense>(state));
  device.set_handler(EMU_OP_START_STOP_UNIT, bind_handler<start_stop>(state));
  device.set_handler(EMU_OP_PREVENT_ALLOW, [](EmulatedDevice&, const EmulatedCommand&) {
    return EmulatedAnswer::good();
  });
  device.set_handler(EMU_OP_READ_CAPACITY, bind_handler<read_capacity>(state));
  device.set_handler(EMU_OP_READ_10, bind_handler<read_10>(state));
  device.set_handler(EMU_OP_READ_SUBCHANNEL, bind_handler<read_subchannel>(state));
  device.set_handler(EMU_OP_READ_TOC, bind_handler<read_toc>(state));
  device.set_handler(EMU_OP_READ_CDDA, bind_handler<read_cdda>(state));
  device.set_command_length(EMU_OP_READ_CDDA, 12);
  return state;
}
