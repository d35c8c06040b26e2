#include "emulator/recorder_drive.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "common/sector.h"
#include "common/timecode.h"
#include "emulator/recorder_tray.h"

namespace {

constexpr int DEFAULT_CAPACITY_MINUTES = 74;

bool blank_medium(const EmulatedDevice& device) {
  return device.medium() != nullptr && device.medium_as<EmulatedDisc>() == nullptr;
}

// capacity=MINUTES: the LBA after the last block of a blank disc that long.
int32_t take_capacity(EmulatedDevice& device) {
  const std::optional<std::string> item = device.take_item("capacity");
  if (!item) return DEFAULT_CAPACITY_MINUTES * FRAMES_PER_MINUTE - LBA_OFFSET_FRAMES;
  char* end = nullptr;
  const long minutes = std::strtol(item->c_str(), &end, 10);
  if (end == item->c_str() || *end != '\0' || minutes < 1 || minutes > 99)
    throw EmulatedBusError("bad item \"capacity=" + *item + "\" (minutes, 1 to 99)");
  return static_cast<int32_t>(minutes) * FRAMES_PER_MINUTE - LBA_OFFSET_FRAMES;
}

// Whether a block of `size` bytes fits a track: raw sectors and CD+G blocks
// for audio, user data or raw sectors for data of the track's mode.
bool block_fits(const DiscTrack& track, uint32_t size) {
  if (!track.is_data()) return size == RAW_SECTOR_SIZE || size == CDG_BLOCK_SIZE;
  if (size == RAW_SECTOR_SIZE) return true;
  return size == (track.type == TrackType::Mode1 ? DATA_BLOCK_SIZE : MODE2_BODY_SIZE);
}

}  // namespace

namespace {

// The drives alive in this process. A program that ends without destroying
// its bus still ends every recording (std::atexit), so that no new file
// and no lock file outlives it.
// Never destroyed: drives outlive it in static objects destroyed after it.
std::set<RecorderDrive*>& live_drives() {
  static auto* drives = new std::set<RecorderDrive*>;
  return *drives;
}

void end_live_recordings() {
  for (RecorderDrive* drive : std::set<RecorderDrive*>(live_drives())) drive->end_run();
}

}  // namespace

RecorderDrive::RecorderDrive(std::shared_ptr<CdromDriveState> reading,
                             std::unique_ptr<RecordedDisc> disc)
    : reading_(std::move(reading)), disc_(std::move(disc)) {
  static const bool registered = std::atexit(end_live_recordings) == 0;
  (void)registered;
  live_drives().insert(this);
  show_sessions();
}

RecorderDrive::~RecorderDrive() {
  end_run();
  live_drives().erase(this);
}

void RecorderDrive::end_run() {
  if (disc_ != nullptr && disc_->writing() && !at_once_) {
    close_open_track();
    disc_->commit();
  }
  disc_.reset();
}

std::optional<EmulatedAnswer> RecorderDrive::refuse_recording(const EmulatedDevice& device) const {
  if (device.medium() == nullptr || disc_ == nullptr) return refuse(SENSE_MEDIUM_NOT_PRESENT);
  if (disc_->recording().closed) return refuse(SENSE_CANNOT_WRITE_INCOMPATIBLE);
  return std::nullopt;
}

bool RecorderDrive::first_session() const {
  return disc_ == nullptr || disc_->leadout_blocks() == FIRST_LEADOUT_BLOCKS;
}

EmulatedAnswer RecorderDrive::begin_session(const EmulatedDevice& device, SessionPlan plan,
                                            bool test) {
  if (auto refused = refuse_recording(device)) return *refused;
  RecordedDiscInfo& disc = disc_->recording();
  if (phase_ != Phase::Idle || (!disc.sessions.empty() && !disc.sessions.back().closed))
    return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  const int32_t offset = disc_->next_index1();
  const int32_t area = disc_->next_area();
  const uint8_t first = !disc.tracks.empty() ? static_cast<uint8_t>(disc.tracks.back().number + 1)
                        : plan.first_number != 0 ? plan.first_number
                                                 : 1;
  if (plan.tracks.empty() || first + plan.tracks.size() - 1 > MAX_TRACKS)
    return refuse(SENSE_INVALID_FIELD_IN_PARAMETERS);
  const int32_t leadout = plan.tracks.back().end_lba + offset;
  if (!has_room(leadout)) return refuse(SENSE_LBA_OUT_OF_RANGE);
  if (!disc_->begin(test)) return refuse(SENSE_WRITE_ERROR);
  take_room(leadout);
  for (std::size_t i = 0; i < plan.tracks.size(); ++i) {
    DiscTrack track = plan.tracks[i];
    track.number = static_cast<uint8_t>(first + i);
    for (auto& index : track.indexes) index.second += offset;
    // The first track's area reaches back to the end of what the disc holds.
    if (i == 0) track.indexes.front().second = area;
    track.first_lba = track.indexes.front().second;
    for (const auto& [number, lba] : track.indexes)
      if (number == 1) track.index1_lba = lba;
    track.end_lba += offset;
    track.block_size = 0;  // set by its first block
    disc_->recording().tracks.push_back(track);
  }
  if (plan.has_catalog) {
    disc.has_catalog = true;
    disc.catalog = plan.catalog;
  }
  disc.sessions.push_back({first, disc.tracks.back().number, leadout, false});
  at_once_ = true;
  leave_open_ = plan.leave_open;
  leadin_left_ = plan.leadin_blocks;
  leadout_left_ = plan.leadout_blocks;
  cursor_ = offset + plan.program_start;
  program_end_ = leadout;
  phase_ = leadin_left_ > 0 ? Phase::LeadIn : Phase::Program;
  return EmulatedAnswer::good();
}

EmulatedAnswer RecorderDrive::open_track(const EmulatedDevice& device, const DiscTrack& proto,
                                         bool test) {
  if (auto refused = refuse_recording(device)) return *refused;
  if (phase_ != Phase::Idle || track_open_) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  DiscTrack track = proto;
  const std::vector<DiscTrack>& tracks = disc_->recording().tracks;
  track.number = tracks.empty() ? 1 : static_cast<uint8_t>(tracks.back().number + 1);
  track.first_lba = disc_->next_area();
  track.index1_lba = disc_->next_index1();
  track.end_lba = track.index1_lba;
  track.indexes = {{0, track.first_lba}, {1, track.index1_lba}};
  if (track.number > MAX_TRACKS) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (!has_room(track.index1_lba + 1)) return refuse(SENSE_LBA_OUT_OF_RANGE);
  if (!disc_->writing() && !disc_->begin(test)) return refuse(SENSE_WRITE_ERROR);
  take_room(track.index1_lba + 1);
  RecordedDiscInfo& disc = disc_->recording();
  if (disc.sessions.empty() || disc.sessions.back().closed)
    disc.sessions.push_back({track.number, track.number, track.end_lba, false});
  disc.tracks.push_back(track);
  if (!store_pregap(track)) return refuse(SENSE_WRITE_ERROR);
  at_once_ = false;
  track_open_ = true;
  cursor_ = track.index1_lba;
  phase_ = Phase::Program;
  return EmulatedAnswer::good();
}

// The pregap the drive writes before a track at once: empty sectors of the
// track's mode, digital silence for audio.
bool RecorderDrive::store_pregap(const DiscTrack& track) {
  std::vector<uint8_t> frame(track.block_size, 0);
  for (int32_t lba = std::max(track.first_lba, disc_->recording().bin_end); lba < track.index1_lba;
       ++lba) {
    if (track.is_data())
      build_sector(frame.data(), track.type == TrackType::Mode1 ? SECTOR_MODE1 : SECTOR_MODE2, lba,
                   nullptr, nullptr, false, false, false);
    if (!disc_->store(lba, frame.data(), 1, track.block_size)) return false;
  }
  return true;
}

void copy_block(uint8_t* to, const uint8_t* from, uint32_t size, bool) {
  std::memcpy(to, from, size);
}

void descramble_data(uint8_t* to, const uint8_t* from, uint32_t size, bool data) {
  if (data && size == RAW_SECTOR_SIZE)
    transform_sector_copy(to, from, false, false, true);
  else
    std::memcpy(to, from, size);
}

DiscTrack* RecorderDrive::track_at(int32_t lba) {
  std::vector<DiscTrack>& tracks = disc_->recording().tracks;
  for (auto track = tracks.rbegin(); track != tracks.rend(); ++track)
    if (lba >= track->first_lba) return &*track;
  return &tracks.front();  // the first pregap, before LBA 0
}

const DiscTrack* RecorderDrive::next_track() {
  if (disc_ == nullptr || phase_ != Phase::Program || (at_once_ && cursor_ == program_end_))
    return nullptr;
  return track_at(cursor_);
}

EmulatedAnswer RecorderDrive::write(EmulatedDevice& device, const EmulatedCommand& command,
                                    uint32_t count, const BlockDecoder& decode,
                                    uint32_t block_size) {
  if (auto refused = refuse_recording(device)) return *refused;
  if (phase_ == Phase::Idle) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  const uint32_t size = block_size != 0 ? block_size : reading_->block_length;
  if (command.direction != SRB_DIR_OUT || uint64_t{count} * size != command.buffer_length ||
      (count > 0 && command.buffer == nullptr))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  const bool whole_frames = size == RAW_SECTOR_SIZE || size == CDG_BLOCK_SIZE;
  const DiscTrack* target = next_track();
  if (at_once_ ? !whole_frames && !(user_data_at_once && target != nullptr && target->is_data() &&
                                    block_fits(*target, size))
               : !block_fits(disc_->recording().tracks.back(), size))
    return refuse(SENSE_ILLEGAL_MODE_FOR_TRACK);
  if (at_once_) {
    const uint64_t room = uint64_t{leadin_left_} + leadout_left_ +
                          (phase_ <= Phase::Program ? program_end_ - cursor_ : 0);
    if (count > room) return refuse(SENSE_END_OF_USER_AREA);
  } else if (int64_t{cursor_} + count > INT32_MAX || !has_room(cursor_ + int32_t(count))) {
    return refuse(SENSE_LBA_OUT_OF_RANGE);
  } else {
    take_room(cursor_ + static_cast<int32_t>(count));
  }
  // Frames for the file, one track at a time, decoded straight into the
  // disc's collection of frames on their way to the file.
  auto frame_space = [&](uint32_t blocks) {
    const std::size_t bytes = std::size_t{blocks} * CDG_BLOCK_SIZE;
    if (uint8_t* space = disc_->frame_space(bytes)) return space;
    frames_.resize(std::max(frames_.size(), bytes));
    return frames_.data();
  };
  uint8_t* frames = frame_space(count);
  std::size_t used = 0;
  int32_t frames_lba = cursor_;
  DiscTrack* frames_track = nullptr;
  auto flush = [&](uint32_t blocks_left) {
    const bool ok =
        used == 0 ||
        disc_->store(frames_lba, frames, static_cast<uint32_t>(used / frames_track->block_size),
                     frames_track->block_size);
    if (used != 0 && blocks_left != 0) frames = frame_space(blocks_left);
    used = 0;
    return ok;
  };
  for (uint32_t i = 0; i < count; ++i) {
    if (phase_ == Phase::LeadIn) {
      if (--leadin_left_ == 0) phase_ = Phase::Program;
      continue;
    }
    if (phase_ == Phase::Program && at_once_ && cursor_ == program_end_)
      phase_ = leadout_left_ > 0 ? Phase::LeadOut : Phase::Done;
    if (phase_ == Phase::LeadOut) {
      if (--leadout_left_ == 0) phase_ = Phase::Done;
      continue;
    }
    DiscTrack* track = track_at(cursor_);
    // A CD+G block does not fit a data track.
    if (size == CDG_BLOCK_SIZE && track->is_data()) return refuse(SENSE_ILLEGAL_MODE_FOR_TRACK);
    if (track != frames_track && !flush(count - i)) return refuse(SENSE_WRITE_ERROR);
    if (used == 0) frames_lba = cursor_;
    frames_track = track;
    uint8_t* block = frames + used;
    const uint8_t* sent = command.buffer + uint64_t{i} * size;
    if (size == DATA_BLOCK_SIZE || size == MODE2_BODY_SIZE) {
      uint8_t* data = block + SECTOR_DATA_OFFSET;
      decode(data, sent, size, track->is_data());
      build_sector(block, size == DATA_BLOCK_SIZE ? SECTOR_MODE1 : SECTOR_MODE2, cursor_, nullptr,
                   data, false, false, false);
    } else {
      decode(block, sent, size, track->is_data());
    }
    if (cursor_ >= corrupt_first && cursor_ <= corrupt_last) corrupt_block(block, track->is_data());
    if (track->block_size == 0) {  // its first block
      track->block_size =
          static_cast<uint16_t>(size == CDG_BLOCK_SIZE ? CDG_BLOCK_SIZE : RAW_SECTOR_SIZE);
      if (track->is_data()) track->type = block[15] == 2 ? TrackType::Mode2 : TrackType::Mode1;
    }
    if (size == RAW_SECTOR_SIZE && track->block_size == CDG_BLOCK_SIZE)
      std::memset(block + RAW_SECTOR_SIZE, 0, CDG_BLOCK_SIZE - RAW_SECTOR_SIZE);
    used += track->block_size;
    if (!at_once_) track->end_lba = cursor_ + 1;
    ++cursor_;
  }
  if (!flush(0)) return refuse(SENSE_WRITE_ERROR);
  if (phase_ == Phase::Program && at_once_ && cursor_ == program_end_ && leadout_left_ == 0)
    phase_ = Phase::Done;
  return EmulatedAnswer::good();
}

bool RecorderDrive::has_room(int32_t end) const {
  return int64_t{end} <= int64_t{disc_->recording().capacity} + overburn_blocks;
}

void RecorderDrive::take_room(int32_t end) {
  RecordedDiscInfo& disc = disc_->recording();
  disc.capacity = std::max(disc.capacity, end);
}

void RecorderDrive::corrupt_block(uint8_t* block, bool data) const {
  // Data: bytes of the user data, so that the EDC no longer matches; audio: a sample.
  const uint32_t at = data ? SECTOR_DATA_OFFSET : 0;
  block[at] ^= 0x5A;
  block[at + 1] ^= 0xA5;
}

void RecorderDrive::close_open_track() {
  if (!track_open_) return;
  RecordedDiscInfo& disc = disc_->recording();
  disc.sessions.back().last_track = disc.tracks.back().number;
  disc.sessions.back().leadout = disc.tracks.back().end_lba;
  track_open_ = false;
  phase_ = Phase::Idle;
}

EmulatedAnswer RecorderDrive::synchronize(EmulatedDevice& device) {
  if (device.medium() == nullptr) return refuse(SENSE_MEDIUM_NOT_PRESENT);
  if (track_open_) {
    close_open_track();
    return EmulatedAnswer::good();
  }
  if (phase_ == Phase::Idle) return EmulatedAnswer::good();
  if (phase_ != Phase::Done) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  disc_->recording().sessions.back().closed = true;
  disc_->recording().closed = !leave_open_;
  return finish(device);
}

EmulatedAnswer RecorderDrive::fixate(EmulatedDevice& device, bool leave_open, bool test) {
  if (auto refused = refuse_recording(device)) return *refused;
  if (phase_ != Phase::Idle && !track_open_) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  close_open_track();
  RecordedDiscInfo& disc = disc_->recording();
  if (disc.sessions.empty() || disc.sessions.back().closed)
    return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  if (!disc_->writing() && !disc_->begin(test)) return refuse(SENSE_WRITE_ERROR);
  disc_->recording().sessions.back().closed = true;
  disc_->recording().closed = !leave_open;
  return finish(device);
}

// Ends the recording: the disc files take it (a test recording leaves them),
// and reads see the new disc.
EmulatedAnswer RecorderDrive::finish(EmulatedDevice& device) {
  phase_ = Phase::Idle;
  at_once_ = false;
  if (!disc_->commit()) return refuse(SENSE_WRITE_ERROR);
  if (device.medium() != nullptr && !disc_->stored().tracks.empty())
    device.set_medium(disc_->reading_disc());
  show_sessions();
  return EmulatedAnswer::good();
}

// READ TOC format 1 reports the last closed session of the stored disc.
void RecorderDrive::show_sessions() {
  if (disc_ == nullptr) return;
  reading_->last_session = 1;
  reading_->last_session_track = 0;
  const std::vector<RecordedSession>& sessions = disc_->stored().sessions;
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    if (!sessions[i].closed) continue;
    reading_->last_session = static_cast<uint8_t>(i + 1);
    reading_->last_session_track = sessions[i].first_track;
  }
}

bool decode_catalog_digits(const uint8_t* bcd, std::array<char, 13>* out) {
  for (int digit = 0; digit < 14; ++digit) {
    const uint8_t value = (digit % 2) ? bcd[digit / 2] & 0x0F : bcd[digit / 2] >> 4;
    if (digit == 13) return value == 0;
    if (value > 9) return false;
    (*out)[static_cast<std::size_t>(digit)] = static_cast<char>('0' + value);
  }
  return true;
}

std::shared_ptr<RecorderDrive> install_recorder_drive(EmulatedDevice& device) {
  std::shared_ptr<CdromDriveState> reading = install_cdrom_commands(device);
  reading->block_lengths.push_back(CDG_BLOCK_SIZE);
  const int32_t capacity = take_capacity(device);
  std::unique_ptr<RecordedDisc> disc;
  if (!device.medium_item().empty()) {
    disc = std::make_unique<RecordedDisc>(device.medium_item(), capacity);
    if (std::unique_ptr<EmulatedDisc> recorded = disc->reading_disc())
      device.set_medium(std::move(recorded));
  }
  // A blank disc has nothing to read.
  for (const uint8_t opcode : {EMU_OP_READ_CAPACITY, EMU_OP_READ_10, EMU_OP_READ_SUBCHANNEL,
                               EMU_OP_READ_TOC, EMU_OP_READ_CDDA}) {
    EmulatedHandler read = device.handler(opcode);
    device.set_handler(opcode, [read](EmulatedDevice& d, const EmulatedCommand& command) {
      return blank_medium(d) ? refuse(SENSE_BLANK_MEDIUM) : read(d, command);
    });
  }
  auto drive = std::make_shared<RecorderDrive>(std::move(reading), std::move(disc));
  take_lba_range(device, "corrupt", &drive->corrupt_first, &drive->corrupt_last);
  if (drive->disc() != nullptr) {
    device.set_tray(make_recorder_tray(drive));
    // The disc a transporter puts in keeps the same files.
    device.add_medium_files([weak = std::weak_ptr<RecorderDrive>(drive)] {
      const std::shared_ptr<RecorderDrive> held = weak.lock();
      return held && held->disc() ? held->disc()->files() : std::vector<std::string>{};
    });
  }
  return drive;
}
