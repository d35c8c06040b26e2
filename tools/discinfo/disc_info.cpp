#include "tools/discinfo/disc_info.h"

#include <algorithm>

#include "common/console.h"
#include "common/timecode.h"
#include "drivers/cd_reader.h"
#include "drivers/cd_text_reading.h"
#include "layout/cue_metadata.h"
#include "scsi/scan.h"
#include "scsi/settings.h"
#include "tools/shared/reader_choice.h"

namespace {

constexpr unsigned TRACKS_PER_PAGE = 12;
constexpr uint8_t MODE_DUMP_LENGTH = 212;
constexpr std::size_t MODE_HEADER_LENGTH = 4;  // MODE SENSE(6) parameter header
constexpr unsigned DUMPED_PAGES = 12;
constexpr uint8_t SPEED_PAGE = 0x31;

const char* yes_no(bool value) { return value ? "Yes" : " No"; }

const char* type_text(const TrackEntry& track) {
  if (!(track.track_flags & TRACK_DATA)) return "Audio";
  if (track.sector_mode == 1) return "Mode1";
  if (track.sector_mode == 2) return "Mode2";
  return "Data ";
}

// Puts the drive back to 2048-byte blocks after the mode probe of /MODE: at
// once with finish(), which raises a failure, or, when an error ends the
// listing on the way, on leaving the scope, where a failure is left unsaid
// so that the error that ended the listing is the one reported.
class BlockLengthRestore {
 public:
  explicit BlockLengthRestore(CdReader* reader) : reader_(reader) {}
  ~BlockLengthRestore() {
    if (reader_ != nullptr) reader_->StopDataRead();
  }
  BlockLengthRestore(const BlockLengthRestore&) = delete;
  BlockLengthRestore& operator=(const BlockLengthRestore&) = delete;

  void finish() {
    CdReader* reader = reader_;
    reader_ = nullptr;
    if (reader != nullptr) reader->StopDataReadNamed(true);
  }

 private:
  CdReader* reader_;
};

}  // namespace

DiscInfoSettings parse_disc_info_command_line(int argc, const char* const* argv) {
  DiscInfoSettings settings;
  reader_address_from_environment(&settings.address_given, &settings.address);
  CommandLine rules;
  rules.tool_name = "DISCINFO";
  rules.usage_lines = {
      "Usage: DISCINFO [/ID=ha:id:lun] [/ISRC] [/MCN] [/MODE] [/NOPROMPT]\n",
      "/ID       - SCSI ID of CDROM device (default is first found)\n",
      "/ISRC     - Display the 'International Standard Recording Codes'\n",
      "/MCN      - Display the 'Media Catalog Number'\n",
      "/MODE     - Display the sector mode of all data tracks\n",
      "/NOPROMPT - Disable screen prompting\n",
  };
  rules.switches = {
      plain_switch("/CDTEXT", &settings.cd_text),
      plain_switch("/ISRC", &settings.isrc),
      plain_switch("/MCN", &settings.mcn),
      plain_switch("/MODE", &settings.mode),
      plain_switch("/NOPROMPT", &settings.prompt, false),
      plain_switch("/DUMP", &settings.dump),
      address_switch("/ID", &settings.address, &settings.address_given,
                     "Error: Illegal /ID format!\n"),
  };
  rules.usage_when_empty = false;
  parse_command_line(rules, argc, argv);
  return settings;
}

std::string disc_info_track_line(const TrackEntry& track) {
  const MsfTime time = lba_to_msf(static_cast<int32_t>(track.start));
  std::string line =
      format_text("%02u   %s   %02u:%02u:%02u    %06lu    %s       %s       %s     ",
                  track.track_number, type_text(track), time.minute, time.second, time.frame,
                  static_cast<unsigned long>(track.start), yes_no(track.track_flags & TRACK_DCP),
                  yes_no(track.track_flags & TRACK_PRE), yes_no(track.track_flags & TRACK_4CH));
  if (track.track_flags & TRACK_ISRC) {
    line += format_text("%.12s\n", track.isrc.data());
  } else {
    line += "Not Available\n";
  }
  return line;
}

std::string cd_text_listing(const CdTextContents& contents) {
  if (contents.empty()) return "\nNo CD-TEXT on this disc\n";
  std::string text;
  for (const CdTextBlock& block : contents.blocks) {
    // The first block is listed as a disc of one language is; the others
    // after a blank line, each heading naming the block and its language.
    const std::string of = &block == &contents.blocks.front()
                               ? "CD-TEXT"
                               : format_text("CD-TEXT block %u (%s)", block.number,
                                             cd_text_language_name(block.language).c_str());
    text += "\n";
    auto list = [&](const std::vector<SheetText>& fields, const std::string& heading) {
      if (fields.empty()) return;
      text += of + heading;
      for (const SheetText& field : fields) text += "  " + text_line(field) + "\n";
    };
    list(block.disc, " of the disc:\n");
    for (unsigned track = 1; track <= MAX_TRACKS; ++track)
      list(block.tracks[track], format_text(" of track %02u:\n", track));
  }
  return text;
}

std::string disc_info_session_lines(const std::vector<DiscSession>& sessions) {
  std::string text;
  for (const DiscSession& session : sessions) {
    const MsfTime leadout = lba_to_msf(static_cast<int32_t>(session.leadout));
    // Sessions that READ TOC format 1 cannot tell apart are listed together.
    const std::string name = session.number != 0
                                 ? format_text("Session %02u", session.number)
                                 : format_text("Sessions 01 to %02u", sessions.back().number - 1u);
    text += format_text("%s: Tracks %02u to %02u, Leadout: %02u:%02u:%02u (LBA %06lu)\n",
                        name.c_str(), session.first_track, session.last_track, leadout.minute,
                        leadout.second, leadout.frame, static_cast<unsigned long>(session.leadout));
  }
  return text;
}

std::string mode_page_dump(const uint8_t* data, std::size_t length) {
  std::string text;
  if (length < MODE_HEADER_LENGTH) return text;
  // The pages follow the block descriptors, whose length the header gives:
  // one descriptor of 8 bytes on most drives, none on some.
  std::size_t at = MODE_HEADER_LENGTH + data[3];
  for (unsigned page = 0; page < DUMPED_PAGES && at + 2 <= length; ++page) {
    const uint8_t code = data[at] & 0x3F;
    text += format_text("page code   = %02hX\n", static_cast<unsigned short>(code));
    text += format_text("page length = %u\n", data[at + 1]);
    if (code == SPEED_PAGE && at + 2 < length) text += format_text("speed = %u\n", data[at + 2]);
    at += data[at + 1] + 2u;
  }
  return text;
}

std::string read_mode_page_dump(CdReader& reader) {
  uint8_t pages[MODE_DUMP_LENGTH] = {};
  uint32_t received = 0;
  reader.ModeSense(pages, MODE_DUMP_LENGTH, 0x3F, 0, true, &received);
  // The mode data length counts the bytes after itself.
  const std::size_t announced = std::size_t{pages[0]} + 1;
  return mode_page_dump(pages, std::min<std::size_t>(received, announced));
}

int run_disc_info(const DiscInfoSettings& settings) {
  aspi_open(true);
  const DeviceListRelease release;
  scan_scsi_bus();
  CdReader* reader = choose_reader(settings.address_given, settings.address);
  out_text(reader_found_text(*reader));
  reader->TestUnitReady(true);
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  {
    BlockLengthRestore restore(settings.mode ? reader : nullptr);
    reader->ReadDiscToc(layout.get(), settings.mode, settings.mcn, settings.isrc);
    restore.finish();
  }

  if (settings.mcn) {
    out_text("Media Catalog Number: ");
    if (layout->layout_flags & LAYOUT_MCN) {
      out_text(format_text("%.13s\n", layout->catalog_number.data()));
    } else {
      out_text("Not Available\n");
    }
  }
  out_text("                                  Copy       Pre      Four\n");
  out_text("Trk  Type   Min:Sec:Frm   LBA   Permitted  Emphasis  Channel      ISRC\n");
  out_text("---  ----   -----------   ---   ---------  --------  -------      ----\n");
  Pager pager(TRACKS_PER_PAGE, settings.prompt);
  for (unsigned i = 0; i < layout->track_count; ++i) {
    pager.before_row();
    out_text(disc_info_track_line(layout->tracks[i]));
  }
  const MsfTime leadout = lba_to_msf(static_cast<int32_t>(layout->leadout_position));
  out_text(format_text("\nLeadout: %02u:%02u:%02u (LBA %06lu)\n", leadout.minute, leadout.second,
                       leadout.frame, static_cast<unsigned long>(layout->leadout_position)));

  const std::vector<DiscSession> sessions = read_disc_sessions(*reader, layout.get());
  if (sessions.size() > 1) {
    out_text("\n");
    out_text(disc_info_session_lines(sessions));
  }

  if (settings.cd_text) {
    CdTextContents contents;
    if (read_disc_cd_text(*reader, &contents) == CdTextAnswer::Refused) {
      out_text("\nThe CDROM device cannot read CD-TEXT\n");
    } else {
      out_text(cd_text_listing(contents));
    }
  }
  if (settings.dump) out_text(read_mode_page_dump(*reader));
  return 0;
}
