// Recording on MMC drives: session at once from a cue sheet (SEND CUE
// SHEET, then WRITE(10) from the first pregap on; the drive writes lead-in
// and lead-out), track at once at the next writable address with CLOSE
// TRACK/SESSION, and the disc check that comes before either.
#include <algorithm>
#include <cstring>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/mmc_drive.h"
#include "drivers/recording_events.h"

namespace {

constexpr uint8_t OP_READ_DISC_INFORMATION = 0x51;
constexpr uint8_t OP_READ_TRACK_INFORMATION = 0x52;
constexpr uint8_t OP_CLOSE_TRACK_SESSION = 0x5B;
constexpr uint8_t OP_SEND_CUE_SHEET = 0x5D;

constexpr uint8_t WRITE_PARAMETERS_PAGE = 0x05;
constexpr uint8_t WRITE_PARAMETERS_LENGTH = 0x32;
constexpr uint8_t INVISIBLE_TRACK = 0xFF;
constexpr uint8_t CLOSE_TRACK = 1;
constexpr uint8_t CLOSE_SESSION = 2;
constexpr uint16_t DISC_INFORMATION_LENGTH = 34;
constexpr uint16_t TRACK_INFORMATION_LENGTH = 36;
constexpr std::size_t CUE_ENTRY = 8;

// Session formats of the write parameters page.
constexpr uint8_t SESSION_CDDA_CDROM = 0x00;
constexpr uint8_t SESSION_CDI = 0x10;
constexpr uint8_t SESSION_CDROM_XA = 0x20;

// Data forms of the cue sheet: what the host sends for each block, and what
// the drive generates by itself (lead-in, lead-out). 40h adds 96 bytes of
// raw P-W subcode after each block.
constexpr uint8_t FORM_GENERATED = 0x01;
constexpr uint8_t FORM_SUBCODE_PW = 0x40;
constexpr int INVALID = -1;

bool is_mode2(TrackType type) { return type == TrackType::Mode2 || type == TrackType::Cdi; }

// The cue sheet's data form of a track's blocks; INVALID without one.
int data_form(TrackType type, uint16_t block_size) {
  if (type == TrackType::Audio) {
    if (block_size == RAW_SECTOR_SIZE) return 0x00;
    if (block_size == RAW_SECTOR_SIZE + 96) return FORM_SUBCODE_PW;
    return INVALID;
  }
  const int base = type == TrackType::Mode1 ? 0x10 : is_mode2(type) ? 0x30 : INVALID;
  if (base == INVALID) return INVALID;
  if (block_size == RAW_SECTOR_SIZE) return base | 0x01;
  if (block_size == (type == TrackType::Mode1 ? DATA_BLOCK_SIZE : MODE2_BODY_SIZE)) return base;
  return INVALID;
}

// The form the drive generates for a lead-in or lead-out next to a track.
uint8_t generated_form(TrackType type) {
  if (type == TrackType::Audio) return FORM_GENERATED;
  return type == TrackType::Mode1 ? 0x14 : 0x34;
}

// The write parameters page's data block type; INVALID without one.
int block_type(TrackType type, uint16_t block_size) {
  if (block_size == RAW_SECTOR_SIZE) return 0;
  if (type == TrackType::Audio) return block_size == RAW_SECTOR_SIZE + 96 ? 3 : INVALID;
  if (type == TrackType::Mode1) return block_size == DATA_BLOCK_SIZE ? 8 : INVALID;
  if (is_mode2(type)) return block_size == MODE2_BODY_SIZE ? 9 : INVALID;
  return INVALID;
}

uint8_t session_format(const DiscLayout& layout) {
  uint8_t format = SESSION_CDDA_CDROM;
  for (unsigned t = 0; t < layout.track_count; ++t) {
    if (layout.tracks[t].track_type == TrackType::Cdi) return SESSION_CDI;
    if (layout.tracks[t].track_type == TrackType::Mode2) format = SESSION_CDROM_XA;
  }
  return format;
}

void put_entry(std::vector<uint8_t>& sheet, uint8_t ctl_adr, uint8_t track, uint8_t index,
               uint8_t form, uint32_t frames) {
  const MsfTime time = frames_to_msf(static_cast<int32_t>(frames));
  const uint8_t entry[CUE_ENTRY] = {ctl_adr, track,       index,       form,
                                    0,       time.minute, time.second, time.frame};
  sheet.insert(sheet.end(), entry, entry + CUE_ENTRY);
}

// Two entries of `adr` carrying `count` characters, seven at most in the
// first (catalog number) or six in each (ISRC).
void put_code(std::vector<uint8_t>& sheet, uint8_t ctl_adr, uint8_t track, const char* text,
              std::size_t count) {
  const std::size_t first = track == 0 ? 7 : 6;
  uint8_t entries[2 * CUE_ENTRY] = {ctl_adr};
  entries[CUE_ENTRY] = ctl_adr;
  const std::size_t skip = track == 0 ? 1 : 2;  // the ISRC's entries name the track
  if (track != 0) entries[1] = entries[CUE_ENTRY + 1] = track;
  std::memcpy(entries + skip, text, first);
  std::memcpy(entries + CUE_ENTRY + skip, text + first, count - first);
  sheet.insert(sheet.end(), entries, entries + sizeof entries);
}

}  // namespace

std::vector<uint8_t> mmc_write_parameters_page(uint8_t write_type, bool test, bool multi_session,
                                               uint8_t track_mode, uint8_t block_type_value,
                                               uint8_t session_format_value) {
  std::vector<uint8_t> page(2u + WRITE_PARAMETERS_LENGTH, 0);
  page[0] = WRITE_PARAMETERS_PAGE;
  page[1] = WRITE_PARAMETERS_LENGTH;
  page[2] = static_cast<uint8_t>((test ? 0x10 : 0) | write_type);
  page[3] = static_cast<uint8_t>((multi_session ? 0xC0 : 0) | (track_mode & 0x0F));
  page[4] = block_type_value;
  page[8] = session_format_value;
  put_be16(&page[14], 150);  // audio pause length
  return page;
}

std::vector<uint8_t> mmc_session_parameters(const DiscLayout& layout, bool test,
                                            bool multi_session) {
  const TrackEntry& first = layout.tracks[0];
  const int type = block_type(first.track_type, first.block_size);
  return mmc_write_parameters_page(
      MMC_WRITE_SESSION_AT_ONCE, test, multi_session, track_control_nibble(first.track_flags),
      static_cast<uint8_t>(type == INVALID ? 0 : type), session_format(layout));
}

std::vector<uint8_t> mmc_cue_sheet(const DiscLayout& layout, int32_t start, uint8_t first_track,
                                   bool leadin_subcode) {
  if (layout.track_count == 0 || layout.cuepoint_count == 0) return {};
  std::vector<uint8_t> sheet;
  const uint32_t offset = static_cast<uint32_t>(start);  // the layout starts at LBA 0
  if (layout.layout_flags & LAYOUT_MCN)
    put_code(sheet, 0x02, 0, layout.catalog_number.data(), layout.catalog_number.size());
  const TrackEntry& first = layout.tracks[0];
  put_entry(sheet, static_cast<uint8_t>(track_control_nibble(first.track_flags) << 4 | 1), 0, 0,
            static_cast<uint8_t>(generated_form(first.track_type) |
                                 (leadin_subcode ? FORM_SUBCODE_PW : 0)),
            0);
  unsigned cue = 0;
  for (unsigned t = 0; t < layout.track_count; ++t) {
    const TrackEntry& track = layout.tracks[t];
    const int form = data_form(track.track_type, track.block_size);
    if (form == INVALID) return {};
    const auto control = static_cast<uint8_t>(track_control_nibble(track.track_flags) << 4);
    const auto number = static_cast<uint8_t>(first_track + t);
    if (track.track_flags & TRACK_ISRC)
      put_code(sheet, control | 0x03, number, track.isrc.data(), track.isrc.size());
    for (; cue < layout.cuepoint_count && layout.cuepoints[cue].track != LEADOUT_TRACK &&
           bcd_to_bin(layout.cuepoints[cue].track) == track.track_number;
         ++cue) {
      const CuePoint& point = layout.cuepoints[cue];
      put_entry(sheet, control | 0x01, number, bcd_to_bin(point.index), static_cast<uint8_t>(form),
                cuepoint_frames(point) + offset);
    }
  }
  const CuePoint& leadout = layout.cuepoints[layout.cuepoint_count - 1];
  if (cue + 1 != layout.cuepoint_count || leadout.track != LEADOUT_TRACK) return {};
  const TrackEntry& last = layout.tracks[layout.track_count - 1];
  put_entry(sheet, static_cast<uint8_t>(track_control_nibble(last.track_flags) << 4 | 1),
            LEADOUT_TRACK, 1, generated_form(last.track_type), cuepoint_frames(leadout) + offset);
  return sheet;
}

ResultCode MmcRecorder::ReadDiscInformationRaw(uint8_t* buffer, uint16_t length,
                                               uint32_t* transferred) {
  uint8_t cdb[10] = {OP_READ_DISC_INFORMATION};
  put_be16(cdb + 7, length);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length, transferred);
}

ResultCode MmcRecorder::ReadTrackInformationRaw(uint8_t* buffer, uint16_t length, uint8_t track,
                                                uint32_t* transferred) {
  uint8_t cdb[10] = {OP_READ_TRACK_INFORMATION, 0x01};  // address is a track number
  put_be32(cdb + 2, track);
  put_be16(cdb + 7, length);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length, transferred);
}

ResultCode MmcRecorder::SendCueSheetRaw(uint8_t* sheet, uint32_t length) {
  uint8_t cdb[10] = {OP_SEND_CUE_SHEET};
  put_be24(cdb + 6, length);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, sheet, length);
}

ResultCode MmcRecorder::CloseTrackSessionRaw(uint8_t function, uint8_t track) {
  uint8_t cdb[10] = {OP_CLOSE_TRACK_SESSION};
  cdb[2] = function;
  put_be16(cdb + 4, track);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode MmcRecorder::CheckWritableDisc(const char** why) {
  uint8_t info[DISC_INFORMATION_LENGTH] = {};
  uint32_t received = 0;
  const ResultCode result = ReadDiscInformationRaw(info, sizeof info, &received);
  *why = "could not be asked for its state";
  if (result != 1) return result;
  const uint8_t status = info[2] & 0x03;
  const uint8_t last_session = (info[2] >> 2) & 0x03;
  if (received >= 3 && (status == 0 || (status == 1 && last_session == 0))) return 1;
  if (status == 1)
    *why = "has a session still open";
  else if (status == 2 && (info[2] & 0x10))
    *why = "is a used CD-RW: blank it before recording (/BLANK=FAST or /BLANK=FULL)";
  else if (status == 2)
    *why = "is closed and takes no further recording";
  else
    *why = "is neither blank nor appendable";
  return MSG_BLANK_CHECK;
}

ResultCode MmcRecorder::NextWritableAddress(int32_t* lba) {
  uint8_t info[TRACK_INFORMATION_LENGTH] = {};
  uint32_t received = 0;
  const ResultCode result = ReadTrackInformationRaw(info, sizeof info, INVISIBLE_TRACK, &received);
  if (result != 1) return result;
  if (received < 16 || !(info[7] & 0x01)) return MSG_BLANK_CHECK;  // no valid address
  openTrackNumber = info[2];
  *lba = static_cast<int32_t>(get_be32(info + 12));
  return 1;
}

ResultCode MmcRecorder::ReadLastTrack(uint8_t* last) {
  *last = 0;
  const ResultCode ready = TestUnitReady(false);
  if (ready != 1) return ready;
  uint8_t info[DISC_INFORMATION_LENGTH] = {};
  uint32_t received = 0;
  const ResultCode result = ReadDiscInformationRaw(info, sizeof info, &received);
  if (result == 1 && received >= 3 && (info[2] & 0x03) == 0) return 1;
  return LastTrackFromToc(last);
}

bool MmcRecorder::FreeBlocks(uint32_t* blocks, bool* blank) {
  uint8_t disc[DISC_INFORMATION_LENGTH] = {};
  uint8_t track[TRACK_INFORMATION_LENGTH] = {};
  uint32_t disc_bytes = 0;
  uint32_t track_bytes = 0;
  if (ReadDiscInformationRaw(disc, sizeof disc, &disc_bytes) != 1 || disc_bytes < 3 ||
      ReadTrackInformationRaw(track, sizeof track, INVISIBLE_TRACK, &track_bytes) != 1 ||
      track_bytes < 20 || !(track[7] & 0x01))  // a closed disc: no next writable address
    return false;
  *blank = (disc[2] & 0x03) == 0;
  *blocks = get_be32(track + 16);
  return true;
}

ResultCode MmcRecorder::CloseTrack() {
  const ResultCode result = SynchronizeCacheRaw();
  if (result != 1) return result;
  return CloseTrackSessionRaw(CLOSE_TRACK, openTrackNumber);
}

ResultCode MmcRecorder::FinalizeDisc(uint8_t close_mode, uint8_t session) {
  if (close_mode != CLOSE_MODE_DEFAULT) return MSG_BUGCHECK;
  if (writeParameters.size() > 3) {
    writeParameters[3] =
        static_cast<uint8_t>((writeParameters[3] & 0x3F) | (session ? 0xC0 : 0x00));
    const ResultCode result = SelectPage(writeParameters);
    if (result != 1) return result;
  }
  return CloseTrackSessionRaw(CLOSE_SESSION, 0);
}

ResultCode MmcRecorder::OpenTrack(const TrackEntry& track) {
  const int type = block_type(track.track_type, track.block_size);
  if (type == INVALID) return MSG_BUGCHECK;
  const char* why = nullptr;
  const ResultCode writable = CheckWritableDisc(&why);
  if (writable == MSG_BLANK_CHECK)
    raise_message(MSG_TEXT, 1, 0, 0, std::string("The disc in the CD-Recorder ") + why);
  if (writable != 1) return writable;
  writeParameters = mmc_write_parameters_page(
      MMC_WRITE_TRACK_AT_ONCE, testWrite, false, track_control_nibble(track.track_flags),
      static_cast<uint8_t>(type),
      is_mode2(track.track_type)
          ? (track.track_type == TrackType::Cdi ? SESSION_CDI : SESSION_CDROM_XA)
          : SESSION_CDDA_CDROM);
  MarkUnderrunProtection(writeParameters);
  const ResultCode selected = SelectPage(writeParameters);
  if (selected != 1) return selected;
  return NextWritableAddress(&nextWriteAddress);
}

ResultCode MmcRecorder::SetWritingBlockLength(uint8_t /*track_type*/, uint16_t /*block_size*/) {
  return 1;
}

ResultCode MmcRecorder::SetWritingSpeed(uint8_t speed, uint8_t test) {
  testWrite = test != 0;
  if (writeSpeedFactors.empty())
    return SetCdSpeedRaw(0xFFFF, mmc_writing_speed(std::min(speed, maxWriteSpeed)));
  // A factor: the fastest reported speed at or below it, else the slowest.
  std::size_t pick = 0;
  for (std::size_t i = 0; i < writeSpeedFactors.size(); ++i)
    if (writeSpeedFactors[i] <= speed) pick = i;
  return SetCdSpeedRaw(0xFFFF, writeSpeedsKbs[pick]);
}

ResultCode MmcRecorder::Write(uint8_t* buffer, uint16_t block_size, uint16_t count,
                              int32_t /*address*/) {
  // The WRITE wrapper scrambles raw data sectors for the drives that want
  // them so; an MMC drive scrambles them itself.
  const bool scrambled = block_size == RAW_SECTOR_SIZE && count > 0 &&
                         std::memcmp(buffer, SECTOR_SYNC.data(), SECTOR_SYNC.size()) == 0;
  auto flip = [&]() {
    for (uint32_t i = 0; i < count; ++i)
      transform_sector(buffer + i * RAW_SECTOR_SIZE, false, false, true);
  };
  if (scrambled) flip();
  const ResultCode result =
      WriteRaw(buffer, block_size, count, static_cast<uint32_t>(nextWriteAddress), 0);
  if (result != 1 && scrambled) flip();
  return result;
}

ResultCode MmcRecorder::BeginDiscAtOnce(const DiscAtOnceJob& job) {
  const DiscLayout& layout = *job.layout;
  const char* why = nullptr;
  const ResultCode writable = CheckWritableDisc(&why);
  if (writable == MSG_BLANK_CHECK)
    raise_message(MSG_TEXT, 1, 0, 0, std::string("The disc in the CD-Recorder ") + why);
  CheckNamed(writable, "READ DISC INFORMATION", true);
  int32_t start = 0;
  CheckNamed(NextWritableAddress(&start), "READ TRACK INFORMATION", true);
  // A blank disc takes the layout's own first number; a further session
  // carries on the disc's numbering. The packs number the layout's tracks
  // from its first: only the lead-in of a blank disc's session carries them.
  const uint8_t first_number =
      openTrackNumber == 1 ? layout.tracks[0].track_number : openTrackNumber;
  const bool text = !job.cd_text.empty() && (RecorderCaps & CAP_CD_TEXT) && openTrackNumber == 1;
  std::vector<uint8_t> sheet =
      mmc_cue_sheet(layout, start, first_number == 0 ? 1 : first_number, text);
  // A sheet that cannot be built would leave the drive without a session
  // while the files are streamed: refuse it before anything is written.
  if (sheet.empty()) CheckNamed(MSG_BUGCHECK, "SEND CUE SHEET", true);
  writeParameters = mmc_session_parameters(layout, testWrite, (job.flags & JOB_SESSION) != 0);
  MarkUnderrunProtection(writeParameters);
  CheckNamed(SelectPage(writeParameters), "MODE SELECT", true);
  const int32_t leadin = text ? ReadLeadInStart() : 0;
  CheckNamed(SendCueSheetRaw(sheet.data(), static_cast<uint32_t>(sheet.size())), "SEND CUE SHEET",
             true);
  nextWriteAddress = start - static_cast<int32_t>(LBA_OFFSET_FRAMES);
  if (text) WriteLeadInText(job.cd_text, leadin, nextWriteAddress);
  return 1;
}

ResultCode MmcRecorder::EndDiscAtOnce(uint8_t progress) {
  if (progress) notify_event(EVENT_LEADOUT_START);
  const ResultCode result = SynchronizeCacheRaw();
  if (progress) notify_event(EVENT_LEADOUT_END);
  CheckNamed(result, "SYNCHRONIZE CACHE", true);
  return 1;
}

bool MmcRecorder::NextTrackAddress(int32_t* lba) {
  const char* why = nullptr;
  return CheckWritableDisc(&why) == 1 && NextWritableAddress(lba) == 1;
}
