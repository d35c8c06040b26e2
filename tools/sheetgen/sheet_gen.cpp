#include <memory>

#include "common/console.h"
#include "common/msgvec.h"
#include "drivers/cd_text_reading.h"
#include "layout/cue_writer.h"
#include "scsi/scan.h"
#include "tools/shared/medium_files.h"
#include "tools/shared/reader_choice.h"
#include "tools/sheetgen/sheetgen.h"

namespace {

// "/SUBCODE=option": NONE, SOME, ALL or AUTO in any case.
SwitchRule subcode_switch(SubcodeScan* scan) {
  auto option = std::make_shared<std::string>();
  SwitchRule rule = text_switch("/SUBCODE", option.get(), "Error: Illegal /SUBCODE format!\n");
  rule.apply = [read = rule.apply, option, scan](const std::string& upper) {
    if (!read(upper)) return false;
    static constexpr struct {
      const char* name;
      SubcodeScan scan;
    } options[] = {{"NONE", SCAN_NONE},
                   {"SOME", SCAN_SOME},
                   {"ALL", SCAN_ALL},
                   {"AUTO", SCAN_AUTO},
                   {"FAST", SCAN_FAST}};
    for (const auto& candidate : options)
      if (*option == candidate.name) {
        *scan = candidate.scan;
        return true;
      }
    fail_with(format_text("Illegal /SUBCODE option \"%s\" specified!\n", option->c_str()));
  };
  return rule;
}

}  // namespace

SheetGenSettings parse_sheet_gen_command_line(int argc, const char* const* argv) {
  SheetGenSettings settings;
  reader_address_from_environment(&settings.address_given, &settings.address);
  CommandLine rules;
  rules.tool_name = "SHEETGEN";
  rules.usage_lines = {
      "Usage: SHEETGEN <cuefile> [/ID=ha:id:lun] [/BATCH] [/ISRC] [/MCN]\n",
      "         [/RESET] [/SPEED=n] [/SUBCODE=option] [/THRESH=n]\n",
      "cuefile   - Output CUE SHEET file\n",
      "/ID       - SCSI address of CDROM drive (default is first found)\n",
      "/BATCH    - Disable all logging messages\n",
      "/ISRC     - Read the 'International Standard Recording Codes'\n",
      "/MCN      - Read the 'Media Catalog Number'\n",
      "/RESET    - Reset device (workaround for firmware bugs)\n",
      "/SPEED=n  - Reading speed (default is maximum)\n",
      "/SUBCODE  - Subcode scanning option...\n",
      "              NONE - Disable subcode scan (default)\n",
      "              SOME - Scan subcode for pregaps only\n",
      "              AUTO - Add two second pregaps to all audio tracks\n",
      "              ALL  - Scan subcode for all subindexes\n",
      "/THRESH   - Pregap scan threshold (default is 300 sectors)\n",
      "e.g. SHEETGEN TEST.CUE\n",
      "e.g. SHEETGEN TEST.CUE /SUBCODE=SOME /THRESH=450\n",
      "e.g. SHEETGEN TEST.CUE /ID=0:3:0 /SUBCODE=ALL\n",
  };
  SheetGenSettings& s = settings;
  rules.switches = {
      plain_switch("/BATCH", &s.logging, false),
      plain_switch("/CDTEXT", &s.cd_text),
      plain_switch("/ISRC", &s.isrc),
      plain_switch("/MCN", &s.mcn),
      plain_switch("/RESET", &s.reset),
      address_switch("/ID", &s.address, &s.address_given, "Illegal /ID value format!\n"),
      reading_speed_switch(&s.speed_code),
      subcode_switch(&s.scan),
      number_switch("/THRESH", &s.threshold, "Error: Illegal /THRESH format!\n"),
      path_switch("/COPY", &s.copy, "Error: Illegal /COPY format!\n"),
      plain_switch("/SECURE", &s.secure),
      retries_switch(&s.retries, &s.retries_given),
      read_offset_switch(&s.offset, &s.offset_given),
  };
  rules.parameter_missing = {"Error: CUE SHEET filename must be specified!\n"};
  settings.cue_sheet = parse_command_line(rules, argc, argv).at(0);
  if (settings.copy.empty() && (settings.secure || settings.retries_given || settings.offset_given))
    fail_with("Error: /SECURE, /RETRIES and /OFFSET go with /COPY\n");
  if (!settings.copy.empty()) {
    if (!settings.offset_given) read_offset_from_environment(&settings.offset);
    copy_format(settings.copy);
    if (copy_path(settings) == settings.cue_sheet)
      fail_with("Error: The /COPY file and the CUE SHEET file must differ!\n");
  }
  return settings;
}

int run_sheet_gen(const SheetGenSettings& settings) {
  aspi_open(true);
  const DeviceListRelease release;
  scan_scsi_bus();
  // Refused before the disc is read: the sheet or the copy would replace a
  // disc's file.
  for (const std::string& output : {settings.cue_sheet, copy_path(settings)})
    if (!output.empty() && path_holds_medium(output))
      raise_message(MSG_CREATE_FAILED, 1, MSG_TEXT, 1, output, MEDIUM_FILE_REASON);
  CdReader* reader = choose_reader(settings.address_given, settings.address);
  if (settings.logging) out_text(reader_found_text(*reader));
  out_text(generic_driver_warning(*reader));
  if (scan_reads_subcode(settings.scan) && !(reader->readerCaps & CAP_READ_SUBQ))
    fail_with("Error: CDROM device does not support the reading of subcodes!\n");
  const std::unique_ptr<DiscLayout> layout =
      analyze_source_disc(*reader, settings.speed_code, settings.scan, settings.threshold,
                          settings.reset, settings.mcn, settings.isrc, settings.logging);
  if (settings.cd_text) {
    CdTextContents contents;
    const CdTextAnswer answer = read_disc_cd_text(*reader, &contents, layout.get());
    if (answer != CdTextAnswer::Read && settings.logging)
      out_text(answer == CdTextAnswer::None ? "No CD-TEXT on this disc\n"
                                            : "The CDROM device cannot read CD-TEXT\n");
    // A sheet holds one language: the first block's.
    for (std::size_t i = 1; i < contents.blocks.size(); ++i)
      err_text(format_text(
          "WARNING! CD-TEXT block %u (%s) is not written: a CUE SHEET holds "
          "the first block's texts only\n",
          contents.blocks[i].number, cd_text_language_name(contents.blocks[i].language).c_str()));
  }
  // A disc of several sessions: each later session's first track begins at
  // the previous session's lead-out, after "REM SESSION nn".
  const std::vector<DiscSession> sessions = read_disc_sessions(*reader, layout.get());
  if (sessions.size() > 1) open_sessions_at_leadouts(layout.get(), sessions);
  if (settings.copy.empty()) {
    write_cue_sheet(settings.cue_sheet, *layout, nullptr);
    return 0;
  }
  const std::size_t undecided = copy_disc(*reader, *layout, settings);
  write_cue_sheet(
      settings.cue_sheet, *layout, &settings.copy,
      copy_format(settings.copy) == RipFormat::Binary ? FileType::Binary : FileType::Wave);
  return undecided > 0 ? 1 : 0;
}
