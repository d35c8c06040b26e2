// The drive programs against a drive model that no one here wrote: each
// case runs one program in a virtual machine whose only SCSI device is
// QEMU's emulated CD-ROM drive (host adapter 0, SCSI ID 3, LUN 0), through
// the Linux SCSI generic backend with no emulated bus, and compares what it
// printed and its exit status. The disc is the volume that the machine
// tests share (shared_machines.h), and so is "disc.iso" in the case's
// working folder when a case asks for it. The cases that hold the same
// medium run one after the other in one machine, in the order of the table
// and before the other tests' programs, as programs run one after the other
// against a drive; each in a folder of its own. Without QEMU the cases are
// skipped, with the reason; when QEMU is there but the machine cannot be
// started, they fail.
//
// To add a case, add a row to vm_cases(): program, arguments, medium,
// environment inside the machine, whether the volume is also handed in as a
// file, and the expected exit status, standard output and standard error
// as line patterns (see line_pattern.h), where {LEADOUT} stands for the
// volume's lead-out as "MM:SS:FF (LBA NNNNNN)"; or, instead of the
// standard output's pattern, that it is the volume byte for byte.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/console.h"
#include "qemu/line_pattern.h"
#include "qemu/qemu_drive.h"
#include "qemu/shared_machines.h"

namespace {

struct VmCase {
  const char* name;
  const char* program;
  std::vector<std::string> arguments;
  DriveMedium medium;
  std::vector<std::string> environment;
  bool volume_as_file;
  int status;
  std::string out;
  std::string err;
  bool out_is_the_volume = false;
};

// Names the case in test listings.
void PrintTo(const VmCase& c, std::ostream* os) { *os << c.name; }

// What the drive tools print once they have found QEMU's drive; the
// revision follows QEMU's version.
const std::string DEVICE_LINES =
    "CDROM device found...\n"
    "  HA #0 - SCSI ID #3 - QEMU     QEMU CD-ROM      {*}\n"
    "\n";

const std::string TOC_HEADING =
    "                                  Copy       Pre      Four\n"
    "Trk  Type   Min:Sec:Frm   LBA   Permitted  Emphasis  Channel      ISRC\n"
    "---  ----   -----------   ---   ---------  --------  -------      ----\n";

// The one data track of the volume and the lead-out after it.
const std::string VOLUME_TOC =
    TOC_HEADING +
    "01   Data    00:02:00    000000     No        No        No     Not Available\n"
    "\n"
    "Leadout: {LEADOUT}\n";

// The mode page dump: the drive's first page is the error recovery page of
// ten bytes; the pages its mode data length covers follow.
std::string mode_page_dump() {
  return "page code   = 01\npage length = 10\n"
         "page code   = {*}\npage length = {*}\n"
         "{...}\n";
}

std::vector<VmCase> vm_cases() {
  return {
      {"discinfo_volume",
       "discinfo",
       {},
       DriveMedium::VOLUME,
       {},
       false,
       0,
       DEVICE_LINES + VOLUME_TOC,
       ""},
      {"discinfo_no_disc",
       "discinfo",
       {},
       DriveMedium::NO_DISC,
       {},
       false,
       1,
       DEVICE_LINES,
       "\nError: 'TEST UNIT READY' command failed on device 0:3:0\nDevice is not ready\n"},
      // The drive has no READ SUB-CHANNEL: the catalog number and the ISRC
      // are not available, and the trace shows the host adapter's error.
      {"discinfo_catalog_isrc_dump_traced",
       "discinfo",
       {"/MCN", "/ISRC", "/DUMP"},
       DriveMedium::VOLUME,
       {"TRACE_SCSI_ENABLED=1"},
       false,
       0,
       DEVICE_LINES + "Media Catalog Number: Not Available\n" + VOLUME_TOC + mode_page_dump(),
       "SCSI 0:0:0 [12 00 00 00 68 00] in 104: status 82/00/00, result -3 (Device does not exist)\n"
       "{...}\n"
       "SCSI 0:3:0 [12 00 00 00 68 00] in 104: status 01/00/00, result 1\n"
       "{...}\n"
       "SCSI 0:3:0 [00 00 00 00 00 00] none 0: status 01/00/00, result 1\n"
       "SCSI 0:3:0 [43 00 00 00 00 00 00 03 24 00] in 804: status 01/00/00, result 1\n"
       "SCSI: SG_IO host status 07, driver status 00\n"
       "SCSI 0:3:0 [42 00 40 03 00 00 01 00 30 00] in 48: status 04/20/00, "
       "result -20 (Unexpected host adapter error)\n"
       "SCSI: SG_IO host status 07, driver status 00\n"
       "SCSI 0:3:0 [42 00 40 02 00 00 00 00 30 00] in 48: status 04/20/00, "
       "result -20 (Unexpected host adapter error)\n"
       "SCSI 0:3:0 [43 00 00 00 00 00 00 03 24 80] in 804: status 01/00/00, result 1\n"
       "SCSI 0:3:0 [43 00 00 00 00 00 00 00 0C 40] in 12: status 01/00/00, result 1\n"
       "SCSI 0:3:0 [1A 00 3F 00 D4 00] in 212: status 01/00/00, result 1\n"},
      // The generic reader (MMC_DISABLED): the drive takes a block length
      // only from a MODE SELECT with the page format bit, so the switch to
      // 2340-byte blocks fails with its sense, and the program stops with
      // that error, after trying to set the drive back to 2048-byte blocks.
      {"discinfo_mode_traced",
       "discinfo",
       {"/MODE"},
       DriveMedium::VOLUME,
       {"TRACE_SCSI_ENABLED=1", "MMC_DISABLED=1"},
       false,
       1,
       DEVICE_LINES,
       "{...}\n"
       "SCSI 0:3:0 [43 00 00 00 00 00 00 03 24 00] in 804: status 01/00/00, result 1\n"
       "SCSI 0:3:0 [15 00 00 00 0C 00] out 12: status 04/00/02, sense key 5 ASC 24 ASCQ 00, "
       "result -28 (Illegal command request)\n"
       "SCSI 0:3:0 [15 00 00 00 0C 00] out 12: status 04/00/02, sense key 5 ASC 24 ASCQ 00, "
       "result -28 (Illegal command request)\n"
       "\n"
       "Error: 'SET BLOCK LENGTH' command failed on device 0:3:0\n"
       "Illegal command request\n"},
      // The drive answers GET CONFIGURATION with a CD profile: the MMC
      // driver reads it, so no block length changes hands; its READ CD is
      // refused, and the mode probe of the data track finds no mode.
      {"discinfo_mode_mmc_traced",
       "discinfo",
       {"/MODE"},
       DriveMedium::VOLUME,
       {"TRACE_SCSI_ENABLED=1"},
       false,
       0,
       DEVICE_LINES + TOC_HEADING +
           "01   Data    00:02:00    000000     No        No        No     Not Available\n"
           "\n"
           "Leadout: {LEADOUT}\n",
       "{...}\n"
       "SCSI 0:3:0 [12 00 00 00 68 00] in 104: status 01/00/00, result 1\n"
       "SCSI 0:3:0 [46 00 00 00 00 00 00 08 00 00] in 2048{*}: status 01/00/00, result 1\n"
       "{...}\n"
       "SCSI 0:3:0 [43 00 00 00 00 00 00 03 24 00] in 804: status 01/00/00, result 1\n"
       "SCSI 0:3:0 [BE 00 00 00 00 00 00 00 01 78 00 00] in 2340: status 04/00/02, "
       "sense key 5 ASC 20 ASCQ 00, result -28 (Illegal command request)\n"
       "SCSI 0:3:0 [43 00 00 00 00 00 00 03 24 80] in 804: status 01/00/00, result 1\n"
       "SCSI 0:3:0 [43 00 00 00 00 00 00 00 0C 40] in 12: status 01/00/00, result 1\n"},
      // The MMC reader's reads of raw data sectors use READ CD, which the
      // drive refuses: the clear error, and nothing written (the span goes
      // to standard output).
      {"ripspan_mmc_raw_refused",
       "ripspan",
       {"/proc/self/fd/1", "/DATA", "/BATCH", "/START=0", "/END=9"},
       DriveMedium::VOLUME,
       {},
       false,
       1,
       "",
       "\nError: Unable to read DATA sectors 0 to 9 on device 0:3:0\nIllegal command request\n"},
      // The default address from the environment reaches the program.
      {"discinfo_reader_id_elsewhere",
       "discinfo",
       {},
       DriveMedium::VOLUME,
       {"CDREADER_ID=0:4:0"},
       false,
       1,
       "",
       "\nError: Specified device (0:4:0) is not a CDROM!\n"},
      // A file handed in, and an argument with a blank and a quote.
      {"sectconv_file_in_machine",
       "sectconv",
       {"disc.iso", "it's raw.bin"},
       DriveMedium::NO_DISC,
       {},
       true,
       0,
       "File contains 1Mb of data ({*} blocks)\nProcessing...\n{*}Conversion completed!\n",
       ""},
      // The MMC reader copies the volume byte for byte: READ(10) of
      // 2048-byte blocks, no block length changed, and the end of the span
      // found by reading (the span goes to standard output).
      {"ripspan_mmc_copies_the_volume",
       "ripspan",
       {"/proc/self/fd/1", "/DATA", "/BLKLEN=2048", "/BATCH"},
       DriveMedium::VOLUME,
       {},
       false,
       0,
       "",
       "",
       true},
  };
}

// "MM:SS:FF (LBA NNNNNN)" for the lead-out of a volume of `blocks` blocks.
std::string leadout_text(unsigned long blocks) {
  const unsigned long frames = blocks + 150;
  return format_text("%02lu:%02lu:%02lu (LBA %06lu)", frames / 4500, frames / 75 % 60, frames % 75,
                     blocks);
}

std::string with_leadout(std::string pattern, const std::string& leadout) {
  const std::string token = "{LEADOUT}";
  for (std::size_t at = pattern.find(token); at != std::string::npos; at = pattern.find(token))
    pattern.replace(at, token.size(), leadout);
  return pattern;
}

// Each case's request, for the machine of its medium that the machine tests
// share (shared_machines.h), in the order of the table.
const bool cases_registered = [] {
  for (const VmCase& c : vm_cases())
    share_machine(std::string("VmProgram/") + c.name,
                  std::string("QemuDrive/VmProgram.PrintsWhatTheDriveAnswers/") + c.name, 0,
                  [c](const SharedVolume& volume) {
                    VmRequest request;
                    request.program = std::string(CDM_BIN_DIR) + "/" + c.program;
                    request.arguments = c.arguments;
                    request.medium = c.medium;
                    request.environment = c.environment;
                    if (c.medium == DriveMedium::VOLUME) request.image = volume.image;
                    if (c.volume_as_file) request.files = {volume.image};
                    return request;
                  });
  return true;
}();

class VmProgram : public testing::TestWithParam<VmCase> {};

TEST_P(VmProgram, PrintsWhatTheDriveAnswers) {
  const VmCase& c = GetParam();
  const SharedVolume& volume = shared_volume();
  ASSERT_EQ(volume.failure, "");
  const VmOutcome& outcome = shared_outcome(std::string("VmProgram/") + c.name);
  if (!outcome.skip_reason.empty()) GTEST_SKIP() << outcome.skip_reason;
  if (!outcome.failure.empty()) FAIL() << outcome.failure;

  const std::string leadout = leadout_text(volume.bytes.size() / 2048);
  EXPECT_EQ(outcome.run.status, c.status);
  if (c.out_is_the_volume)
    EXPECT_TRUE(outcome.run.out == volume.bytes)
        << outcome.run.out.size() << " bytes copied of " << volume.bytes.size();
  else
    EXPECT_TRUE(matches_line_pattern(with_leadout(c.out, leadout), outcome.run.out))
        << "standard output:\n"
        << outcome.run.out << "expected:\n"
        << with_leadout(c.out, leadout);
  EXPECT_TRUE(matches_line_pattern(with_leadout(c.err, leadout), outcome.run.err))
      << "standard error:\n"
      << outcome.run.err << "expected:\n"
      << with_leadout(c.err, leadout);
}

INSTANTIATE_TEST_SUITE_P(QemuDrive, VmProgram, testing::ValuesIn(vm_cases()),
                         [](const testing::TestParamInfo<VmCase>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
