// The drive programs against a drive model that no one here wrote: each
// case runs one program in a virtual machine whose only SCSI device is
// QEMU's emulated CD-ROM drive (host adapter 0, SCSI ID 3, LUN 0), through
// the Linux SCSI generic backend with no emulated bus, and compares what it
// printed and its exit status. The disc is an ISO9660 volume that volbuild
// makes, and so is "disc.iso" in the case's working folder when a case asks
// for it. The cases that hold the same medium run one after the other in
// one machine, in the order of the table, as programs run one after the
// other against a drive; each in a folder of its own. Without QEMU the cases
// are skipped, with the reason; when QEMU is there but the machine cannot
// be started, they fail.
//
// To add a case, add a row to vm_cases(): program, arguments, medium,
// environment inside the machine, whether the volume is also handed in as a
// file, and the expected exit status, standard output and standard error
// as line patterns (see line_pattern.h), where {LEADOUT} stands for the
// volume's lead-out as "MM:SS:FF (LBA NNNNNN)"; or, instead of the
// standard output's pattern, that it is the volume byte for byte.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "common/console.h"
#include "qemu/line_pattern.h"
#include "qemu/qemu_drive.h"
#include "support/scratch_tree.h"

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

// The volume of the cases and what each case's program did with it.
struct CaseRuns {
  ScratchTree tree;
  std::string volume;
  std::string leadout;
  std::string failure;  // why the volume could not be made
  std::map<std::string, VmOutcome> outcomes;
};

class VmProgram : public testing::TestWithParam<VmCase> {
 protected:
  // Makes the volume and runs the cases this process runs, a machine per
  // medium.
  static void SetUpTestSuite() {
    runs_ = std::make_unique<CaseRuns>();
    ScratchTree& tree = runs_->tree;
    tree.write_text("src/README.TXT", "A volume for the drive in the virtual machine.\n");
    tree.write_file("src/DATA/BLOCKS.BIN", 300000, 7);
    const ProgramRun built = run_program(
        "volbuild", {"src/", "disc.iso", "/RECURSE", "/BATCH", "/VOLUME=QEMU_TEST"}, tree.path());
    const std::vector<uint8_t> image = read_file_bytes(tree / "disc.iso");
    if (built.status != 0 || image.empty() || image.size() % 2048 != 0) {
      runs_->failure = "volbuild could not make the volume: " + built.err;
      return;
    }
    runs_->volume.assign(image.begin(), image.end());
    runs_->leadout = leadout_text(image.size() / 2048);

    const testing::TestSuite* suite = testing::UnitTest::GetInstance()->current_test_suite();
    // The cases' names, as the last part of the tests' names.
    std::set<std::string> selected;
    for (int i = 0; suite && i < suite->total_test_count(); ++i) {
      const std::string name = suite->GetTestInfo(i)->name();
      if (suite->GetTestInfo(i)->should_run()) selected.insert(name.substr(name.rfind('/') + 1));
    }
    // The machines run side by side: the one with no disc spends most of
    // its time in the programs' pauses between retries.
    std::vector<std::vector<std::string>> groups;
    std::vector<std::future<std::vector<VmOutcome>>> machines;
    for (const DriveMedium medium : {DriveMedium::VOLUME, DriveMedium::NO_DISC}) {
      std::vector<std::string>& names = groups.emplace_back();
      std::vector<VmRequest> requests;
      for (const VmCase& c : vm_cases()) {
        if (c.medium != medium || selected.count(c.name) == 0) continue;
        VmRequest request;
        request.program = std::string(CDM_BIN_DIR) + "/" + c.program;
        request.arguments = c.arguments;
        request.medium = c.medium;
        request.environment = c.environment;
        if (c.medium == DriveMedium::VOLUME) request.image = tree / "disc.iso";
        if (c.volume_as_file) request.files = {tree / "disc.iso"};
        names.emplace_back(c.name);
        requests.push_back(request);
      }
      machines.push_back(
          std::async(std::launch::async, [requests] { return run_all_in_vm(requests); }));
    }
    for (std::size_t group = 0; group < groups.size(); ++group) {
      const std::vector<VmOutcome> outcomes = machines[group].get();
      for (std::size_t i = 0; i < outcomes.size(); ++i)
        runs_->outcomes[groups[group][i]] = outcomes[i];
    }
  }

  static void TearDownTestSuite() { runs_.reset(); }

  static std::unique_ptr<CaseRuns> runs_;
};

std::unique_ptr<CaseRuns> VmProgram::runs_;

TEST_P(VmProgram, PrintsWhatTheDriveAnswers) {
  const VmCase& c = GetParam();
  ASSERT_EQ(runs_->failure, "");
  ASSERT_EQ(runs_->outcomes.count(c.name), 1u);
  const VmOutcome& outcome = runs_->outcomes.at(c.name);
  if (!outcome.skip_reason.empty()) GTEST_SKIP() << outcome.skip_reason;
  if (!outcome.failure.empty()) FAIL() << outcome.failure;

  const std::string& leadout = runs_->leadout;
  EXPECT_EQ(outcome.run.status, c.status);
  if (c.out_is_the_volume)
    EXPECT_TRUE(outcome.run.out == runs_->volume)
        << outcome.run.out.size() << " bytes copied of " << runs_->volume.size();
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
