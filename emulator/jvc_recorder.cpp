#include "emulator/jvc_recorder.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "common/byteorder.h"
#include "common/sector.h"
#include "emulator/cdrom_drive.h"
#include "emulator/recorder_drive.h"
#include "emulator/subcode_fields.h"

namespace {

constexpr uint8_t OP_WRITE_10 = 0x2A;
constexpr uint8_t OP_SET_LIMITS = 0xB3;
constexpr uint8_t OP_SET_SUBCODE = 0xC2;
constexpr uint8_t OP_WRITE_PMA = 0xE1;
constexpr uint8_t OP_FIXATION = 0xE3;
constexpr uint8_t OP_CLEAR_SUBCODE = 0xE4;
constexpr uint8_t OP_EXECUTE_OPC = 0xEC;

constexpr uint8_t TEST_PAGE = 0x21;
constexpr uint8_t WRITE_MODE_PAGE = 0x22;
constexpr uint8_t SPEED_PAGE = 0x31;
constexpr uint8_t MODE_TRACK_AT_ONCE = 0;
constexpr uint8_t MODE_LEAVE_OPEN = 4;

constexpr uint32_t Q_ITEM_SIZE = 4;
constexpr uint32_t TOC_ENTRY_SIZE = 5;
constexpr uint32_t TOC_HEADER_SIZE = 3;
constexpr int32_t RUN_OUT_BLOCKS = 2;

struct JvcClass {
  uint8_t model_code;
  uint8_t max_speed;  // highest speed value of page 31h
};

constexpr JvcClass JVC_CLASSES[] = {{10, 1}, {11, 1}, {18, 2}};

const JvcClass* jvc_class(const EmulatedDevice& device) {
  const uint8_t code = recorder_model_code(device);
  for (const JvcClass& row : JVC_CLASSES)
    if (row.model_code == code) return &row;
  return nullptr;
}

bool failed(const EmulatedAnswer& answer) { return answer.target_status != STATUS_GOOD; }

// One programmed range and its Q item (track and index in binary).
struct Area {
  int32_t start = 0;
  int32_t length = 0;
  bool pause = false;
  uint8_t control = 0;
  uint8_t track = 0;
  uint8_t index = 0;
};

// The disc the program describes, in LBAs relative to the session.
struct Program {
  std::vector<DiscTrack> tracks;
  int32_t end = 0;  // where the lead-out begins
};

// The areas in order of their start, one after the other: tracks numbered
// one up from the first, each beginning at index 0 (a pause) or 1, its
// indexes one up from there, an area of an index already there adding to it.
std::optional<SenseCondition> build_program(std::vector<Area> areas, Program* out) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  std::sort(areas.begin(), areas.end(),
            [](const Area& a, const Area& b) { return a.start < b.start; });
  if (areas.empty() || areas.front().index != 0) return bad;
  std::vector<DiscTrack>& tracks = out->tracks;
  int32_t end = areas.front().start;
  for (const Area& area : areas) {
    if (area.start != end || (area.index == 0 && !area.pause)) return bad;
    if (tracks.empty() || area.track != tracks.back().number) {
      if ((!tracks.empty() && area.track != tracks.back().number + 1) || area.index > 1) return bad;
      if (!tracks.empty()) tracks.back().end_lba = area.start;
      DiscTrack track;
      track.number = area.track;
      track.control = area.control;
      track.type = track.is_data() ? TrackType::Mode1 : TrackType::Audio;
      track.indexes.emplace_back(area.index, area.start);
      tracks.push_back(track);
    } else {
      DiscTrack& track = tracks.back();
      const uint8_t last = track.indexes.back().first;
      if (area.control != track.control || (area.index != last && area.index != last + 1))
        return bad;
      if (area.index != last) track.indexes.emplace_back(area.index, area.start);
    }
    end = area.start + area.length;
  }
  for (const DiscTrack& track : tracks)
    if (track.indexes.back().first == 0) return bad;  // no index 1
  tracks.back().end_lba = out->end = end;
  return std::nullopt;
}

int32_t index1_of(const DiscTrack& track) {
  for (const auto& [number, lba] : track.indexes)
    if (number == 1) return lba;
  return track.indexes.front().second;
}

// The table of contents must list the program: each track's control, number
// and index 1 time, the first and last track numbers (A0h, A1h) and the
// lead-out (A2h), in that order.
std::optional<SenseCondition> check_toc(const std::vector<uint8_t>& toc, const Program& program) {
  std::vector<uint8_t> expected;
  auto add = [&](uint8_t control, uint8_t point, const uint8_t* bytes) {
    expected.insert(expected.end(),
                    {static_cast<uint8_t>(control << 4 | 1), point, bytes[0], bytes[1], bytes[2]});
  };
  auto time = [](int32_t lba) {
    const MsfTime msf = lba_to_msf(lba);
    return std::array<uint8_t, 3>{bin_to_bcd(msf.minute), bin_to_bcd(msf.second),
                                  bin_to_bcd(msf.frame)};
  };
  for (const DiscTrack& track : program.tracks)
    add(track.control, bin_to_bcd(track.number), time(index1_of(track)).data());
  const DiscTrack& first = program.tracks.front();
  const DiscTrack& last = program.tracks.back();
  const std::size_t a0 = expected.size();
  const uint8_t first_track[3] = {bin_to_bcd(first.number), 0, 0};
  add(first.control, 0xA0, first_track);
  const uint8_t last_track[3] = {bin_to_bcd(last.number), 0, 0};
  add(first.control, 0xA1, last_track);
  add(last.control, 0xA2, time(program.end).data());
  // The disc type of A0h is the host's to say: 0, 10h (CD-i) or 20h (XA).
  if (toc.size() == expected.size()) {
    const uint8_t disc_type = toc[a0 + 3];
    if (disc_type == 0 || disc_type == 0x10 || disc_type == 0x20) expected[a0 + 3] = disc_type;
  }
  if (toc != expected) return SENSE_INVALID_FIELD_IN_PARAMETERS;
  return std::nullopt;
}

enum class Writing { None, DiscAtOnce, TrackAtOnce };

struct Jvc {
  Jvc(const JvcClass& row, std::shared_ptr<RecorderDrive> recorder)
      : model(row), drive(std::move(recorder)) {}

  const JvcClass& model;
  std::shared_ptr<RecorderDrive> drive;
  std::optional<std::pair<int32_t, int32_t>> limits;  // SET LIMITS waiting for its Q item
  std::vector<Area> areas;
  std::optional<std::vector<uint8_t>> toc;  // the entries, without the 3 leading bytes
  bool opc = false;
  Writing writing = Writing::None;
  Program program;       // what is being recorded
  int32_t next_lba = 0;  // the address the next WRITE must carry
  int32_t host_end = 0;  // LBA after the host's last block
  bool ended = false;    // the last block came

  const std::vector<uint8_t>& page(uint8_t code) { return drive->reading().pages.at(code); }
  bool test() { return page(TEST_PAGE)[2] == 3; }
  uint8_t write_mode() { return page(WRITE_MODE_PAGE)[4]; }
};
using State = std::shared_ptr<Jvc>;

std::optional<SenseCondition> check_page(const JvcClass& model, const std::vector<uint8_t>& page) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  if (page[0] == TEST_PAGE && page[2] != 2 && page[2] != 3) return bad;
  if (page[0] == SPEED_PAGE && (page[2] > model.max_speed || page[3] != 0)) return bad;
  if (page[0] == WRITE_MODE_PAGE) {
    if (page[4] != MODE_TRACK_AT_ONCE && page[4] != 2 && page[4] != MODE_LEAVE_OPEN) return bad;
    for (std::size_t i = 2; i < page.size(); ++i)
      if (i != 4 && page[i] != 0) return bad;
  }
  return std::nullopt;
}

bool data_sent(const EmulatedCommand& c, uint32_t length) {
  return length > 0 && c.direction == SRB_DIR_OUT && c.buffer != nullptr &&
         c.buffer_length >= length;
}

EmulatedAnswer set_limits(const State& s, EmulatedDevice&, const EmulatedCommand& c) {
  const auto start = static_cast<int32_t>(get_be32(c.cdb + 2));
  const auto length = static_cast<int32_t>(get_be32(c.cdb + 6));
  if (length <= 0 || start < -PREGAP_BLOCKS || start > static_cast<int32_t>(MAX_ABSOLUTE_FRAMES))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  s->limits = {start, length};
  return EmulatedAnswer::good();
}

// A Q item for the range of the last SET LIMITS, or the table of contents.
EmulatedAnswer set_subcode(const State& s, EmulatedDevice&, const EmulatedCommand& c) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  const uint32_t length = get_be16(c.cdb + 7);
  if (!data_sent(c, length)) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  const uint8_t* d = c.buffer;
  if (length == Q_ITEM_SIZE) {
    if (!s->limits) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
    const std::optional<uint8_t> track = bcd_field(d[2], 99);
    const std::optional<uint8_t> index = bcd_field(d[3], 99);
    if (d[0] > 1 || (d[1] & 0x0F) != 1 || !track || *track == 0 || !index) return refuse(bad);
    s->areas.push_back({s->limits->first, s->limits->second, d[0] == 1,
                        static_cast<uint8_t>(d[1] >> 4), *track, *index});
    s->limits.reset();
    return EmulatedAnswer::good();
  }
  if (length < TOC_HEADER_SIZE + TOC_ENTRY_SIZE || (length - TOC_HEADER_SIZE) % TOC_ENTRY_SIZE ||
      d[0] != 0 || d[1] != 0 || d[2] != 0)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  for (uint32_t at = TOC_HEADER_SIZE; at < length; at += TOC_ENTRY_SIZE) {
    const uint8_t* e = d + at;
    const bool time_point = e[1] == 0xA2 || (e[1] != 0xA0 && e[1] != 0xA1);
    if ((e[0] & 0x0F) != 1 || (time_point && !bcd_time_lba(e + 2)) ||
        (e[1] < 0xA0 && (!bcd_field(e[1], 99) || e[1] == 0)) || e[1] > 0xA2)
      return refuse(bad);
  }
  s->toc = std::vector<uint8_t>(d + TOC_HEADER_SIZE, d + length);
  return EmulatedAnswer::good();
}

EmulatedAnswer clear_subcode(const State& s, EmulatedDevice&, const EmulatedCommand&) {
  s->areas.clear();
  s->toc.reset();
  s->limits.reset();
  return EmulatedAnswer::good();
}

EmulatedAnswer execute_opc(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  s->opc = true;
  return EmulatedAnswer::good();
}

// The first block: the program becomes the session (disc at once) or the
// track (track at once) being recorded.
EmulatedAnswer start_recording(const State& s, EmulatedDevice& device, int32_t lba) {
  if (!s->opc || s->areas.empty()) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  Program program;
  if (auto bad = build_program(s->areas, &program)) return refuse(*bad);
  const int32_t first = program.tracks.front().indexes.front().second;
  if (s->write_mode() != MODE_TRACK_AT_ONCE) {
    if (!s->toc) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
    if (auto bad = check_toc(*s->toc, program)) return refuse(*bad);
    if (lba != first) return refuse(SENSE_LBA_OUT_OF_RANGE);
    SessionPlan plan;
    plan.tracks = program.tracks;
    plan.program_start = lba;
    plan.leave_open = s->write_mode() == MODE_LEAVE_OPEN;
    const EmulatedAnswer answer = s->drive->begin_session(device, std::move(plan), s->test());
    if (failed(answer)) return answer;
    s->writing = Writing::DiscAtOnce;
    s->host_end = program.end;
  } else {
    // One track: its pregap up to LBA 0, then index 1.
    const DiscTrack& only = program.tracks.front();
    if (program.tracks.size() != 1 || only.indexes.size() != 2 || first != -PREGAP_BLOCKS ||
        only.indexes[1].second != 0 || program.end <= RUN_OUT_BLOCKS)
      return refuse(SENSE_INVALID_FIELD_IN_PARAMETERS);
    if (lba < first || lba > 0) return refuse(SENSE_LBA_OUT_OF_RANGE);
    DiscTrack track;
    track.control = only.control;
    track.type = only.type;
    const uint32_t length = s->drive->reading().block_length;
    track.block_size =
        static_cast<uint16_t>(length == CDG_BLOCK_SIZE ? CDG_BLOCK_SIZE : RAW_SECTOR_SIZE);
    const EmulatedAnswer answer = s->drive->open_track(device, track, s->test());
    if (failed(answer)) return answer;
    s->writing = Writing::TrackAtOnce;
    s->host_end = program.end - RUN_OUT_BLOCKS;
  }
  s->program = std::move(program);
  s->next_lba = lba;
  s->ended = false;
  return EmulatedAnswer::good();
}

// Data sectors of 2352 bytes come scrambled; audio as it is.
// User data blocks take the mode the density of the block descriptor gives
// (1: Mode 1, 2048 bytes; 82h: Mode 2, 2336 bytes) for the data track they
// go to.
void take_mode_of_density(const State& s) {
  const uint32_t length = s->drive->reading().block_length;
  if (length != DATA_BLOCK_SIZE && length != MODE2_BODY_SIZE) return;
  std::vector<DiscTrack>& tracks = s->drive->disc()->recording().tracks;
  for (auto track = tracks.rbegin(); track != tracks.rend(); ++track) {
    if (s->drive->next_block() < track->first_lba) continue;
    if (track->is_data())
      track->type = length == DATA_BLOCK_SIZE ? TrackType::Mode1 : TrackType::Mode2;
    return;
  }
}

// `count` blocks of the host's command from block `skip` on.
EmulatedAnswer store_blocks(const State& s, EmulatedDevice& device, const EmulatedCommand& c,
                            uint32_t skip, uint32_t count, const BlockDecoder& decode) {
  const uint32_t size = s->drive->reading().block_length;
  EmulatedCommand part = c;
  part.buffer = c.buffer + std::size_t{skip} * size;
  part.buffer_length = count * size;
  return s->drive->write(device, part, count, decode);
}

EmulatedAnswer write_10(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const auto lba = static_cast<int32_t>(get_be32(c.cdb + 2));
  const uint32_t count = get_be16(c.cdb + 7);
  const uint8_t ending = c.cdb[9] >> 6;
  const uint32_t size = s->drive->reading().block_length;
  if ((ending != 0 && ending != 2) || c.direction != SRB_DIR_OUT || c.buffer == nullptr ||
      uint64_t{count} * size != c.buffer_length || count == 0)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  if (s->writing == Writing::None) {
    const EmulatedAnswer started = start_recording(s, device, lba);
    if (failed(started)) return started;
  }
  if (s->ended) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  if (lba != s->next_lba) return refuse(SENSE_LBA_OUT_OF_RANGE);
  const int64_t after = int64_t{lba} + count;
  if (after > s->host_end) return refuse(SENSE_END_OF_USER_AREA);
  if ((after == s->host_end) != (ending == 0)) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  const bool track_at_once = s->writing == Writing::TrackAtOnce;
  // A track at once: the host's blocks before index 1 are the pregap the
  // drive writes itself.
  const uint32_t skip = track_at_once && lba < 0 ? std::min<uint32_t>(count, -lba) : 0;
  if (skip < count) {
    take_mode_of_density(s);
    const EmulatedAnswer stored = store_blocks(s, device, c, skip, count - skip, descramble_data);
    if (failed(stored)) return stored;
  }
  s->next_lba = static_cast<int32_t>(after);
  if (ending != 0) return EmulatedAnswer::good();
  s->ended = true;
  s->opc = false;
  if (!track_at_once) {
    s->writing = Writing::None;
    return s->drive->synchronize(device);
  }
  // The run-out blocks: empty sectors of the track, silence for audio.
  std::vector<uint8_t> empty(std::size_t{RUN_OUT_BLOCKS} * size, 0);
  EmulatedCommand run_out = c;
  run_out.buffer = empty.data();
  run_out.buffer_length = static_cast<uint32_t>(empty.size());
  return s->drive->write(device, run_out, RUN_OUT_BLOCKS, copy_block);
}

// Closes the track at once whose last block came, with its table of contents.
EmulatedAnswer write_pma(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  if (s->writing != Writing::TrackAtOnce || !s->ended || !s->toc)
    return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  if (auto bad = check_toc(*s->toc, s->program)) return refuse(*bad);
  const EmulatedAnswer answer = s->drive->synchronize(device);
  if (!failed(answer)) s->writing = Writing::None;
  return answer;
}

EmulatedAnswer fixation(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (s->writing != Writing::None) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  if (c.cdb[5] & 0x7F) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  return s->drive->fixate(device, (c.cdb[5] & 0x80) == 0, s->test());
}

}  // namespace

bool jvc_recorder_serves(const EmulatedDevice& device) {
  return device.takes_media() && !medium_is_cue_sheet(device) && jvc_class(device) != nullptr;
}

// READ CD-DA's Q (format 1) comes unpacked on these drives: control,
// address kind, track, index, relative and absolute minute, second, frame in
// bytes 0 to 9 of the 16 after each block.
EmulatedAnswer read_cdda_unpacked_q(const EmulatedHandler& generic, EmulatedDevice& device,
                                    const EmulatedCommand& c) {
  const EmulatedAnswer answer = generic(device, c);
  if (failed(answer) || c.cdb_length <= 10 || c.cdb[10] != 1 || c.buffer == nullptr) return answer;
  constexpr uint32_t BLOCK = RAW_SECTOR_SIZE + 16;
  for (uint32_t at = 0; at + BLOCK <= c.buffer_length; at += BLOCK) {
    uint8_t* u = c.buffer + at + RAW_SECTOR_SIZE;
    uint8_t q[10];
    std::memcpy(q, u, sizeof q);
    u[0] = q[0] >> 4;
    u[1] = q[0] & 0x0F;
    std::memcpy(u + 2, &q[1], 5);
    std::memcpy(u + 7, &q[7], 3);
    std::memset(u + 10, 0, 6);
  }
  return answer;
}

void install_jvc_recorder(EmulatedDevice& device) {
  const JvcClass& model = *jvc_class(device);
  auto state = std::make_shared<Jvc>(model, install_recorder_drive(device));
  CdromDriveState& reading = state->drive->reading();
  // The block descriptor's density tells the drive what a block holds: it
  // builds the sectors of Mode 1 (density 1) and Mode 2 (82h) user data.
  state->drive->user_data_at_once = true;
  device.set_handler(EMU_OP_READ_CDDA, [generic = device.handler(EMU_OP_READ_CDDA)](
                                           EmulatedDevice& d, const EmulatedCommand& c) {
    return read_cdda_unpacked_q(generic, d, c);
  });
  reading.pages[TEST_PAGE] = {TEST_PAGE, 0x01, 0x02};
  reading.pages[WRITE_MODE_PAGE] = {WRITE_MODE_PAGE, 0x07, 0, 0, 0, 0, 0, 0, 0};
  reading.pages[SPEED_PAGE] = {SPEED_PAGE, 0x02, 0x00, 0x00};
  reading.check_page = [&model](const std::vector<uint8_t>& page) {
    return check_page(model, page);
  };
  device.set_handler(OP_WRITE_10, bind_handler<write_10>(state));
  device.set_handler(OP_SET_LIMITS, bind_handler<set_limits>(state));
  device.set_handler(OP_SET_SUBCODE, bind_handler<set_subcode>(state));
  device.set_handler(OP_CLEAR_SUBCODE, bind_handler<clear_subcode>(state));
  device.set_handler(OP_EXECUTE_OPC, bind_handler<execute_opc>(state));
  device.set_handler(OP_WRITE_PMA, bind_handler<write_pma>(state));
  device.set_handler(OP_FIXATION, bind_handler<fixation>(state));
  // The drives' vendor commands are 12 bytes long, but SET SUBCODE's 10.
  for (const uint8_t opcode : {OP_CLEAR_SUBCODE, OP_EXECUTE_OPC, OP_WRITE_PMA, OP_FIXATION})
    device.set_command_length(opcode, 12);
}
