// dircast run as a user runs it on the emulated recorders: the track
// it records is volbuild's volume of the same tree and a postgap, read back
// sector by sector and by xorriso; the disc states its switches leave; the
// faults it refuses before the recorder writes anything; files that change
// while it waits to begin.
#include "tools/dircast/dircast.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/console.h"
#include "emulator/bus.h"
#include "scsi/scan.h"
#include "support/scratch_tree.h"
#include "support/scsi_fakes.h"
#include "support/sector_checks.h"
#include "tools/shared/drive_setup.h"

namespace {

using cdm_test::ScopedEnv;

constexpr std::size_t RAW = RAW_SECTOR_SIZE;
const std::string DEVICE_LINES =
    "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED CDD2000          1.00\n\n";

class Dircast : public testing::Test {
 protected:
  ProgramRun run(const std::string& tool, const std::vector<std::string>& arguments,
                 const std::string& bus = "") {
    ScopedEnv emulated("EMULATED_SCSI_BUS", bus.empty() ? recorder("CDD2000") : bus);
    return run_program(tool, arguments, tree.path());
  }
  std::string recorder(const std::string& product) const {
    return "0:4:0=" + product + ",medium=" + disc;
  }
  void forget_disc() const {
    for (const char* ext : {".cue", ".bin", ".state"}) std::filesystem::remove(disc + ext);
  }
  // volbuild's image of src/ with the switches every run here uses.
  std::vector<uint8_t> volbuild_image(const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments = {"src/", "vol.iso", "/RECURSE", "/BATCH",
                                          "/VOLUME=sample"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    const ProgramRun built = run("volbuild", arguments);
    EXPECT_EQ(built.status, 0) << built.err;
    return read_file_bytes(tree / "vol.iso");
  }

  ScratchTree tree;
  std::string disc = tree / "disc";
  ScopedEnv epoch{"SOURCE_DATE_EPOCH", "1000000000"};
  ScopedEnv no_writer_id{"CDWRITER_ID", std::nullopt};
  ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

// "" when the recorded disc holds `image` and 150 zero blocks as mode 1
// sectors at LBA 0 on, with valid EDC and parity, then `run_out` empty
// sectors that the drive adds, and nothing after them.
std::string track_faults(const std::vector<uint8_t>& bin, const std::vector<uint8_t>& image,
                         std::size_t run_out = 0) {
  const std::size_t volume = image.size() / DATA_BLOCK_SIZE;
  const std::size_t blocks = volume + 150 + run_out;
  if (bin.size() != blocks * RAW) return "size " + std::to_string(bin.size() / RAW);
  for (std::size_t lba = 0; lba < blocks; ++lba) {
    cdm_test::ExpectedSector expected;
    expected.lba = static_cast<int32_t>(lba);
    expected.data = lba < volume ? image.data() + lba * DATA_BLOCK_SIZE : nullptr;
    const std::string fault = cdm_test::raw_sector_faults(bin.data() + lba * RAW, expected);
    if (!fault.empty()) return "LBA " + std::to_string(lba) + ": " + fault;
  }
  return "";
}

// Every class with track-at-once: Philips, Sony, Ricoh, Yamaha, MMC, and
// JVC, whose drives end the track with two run-out blocks.
const struct {
  const char* product;
  std::size_t run_out;
} kRecorders[] = {
    {"KHSW/OB-01", 0},     {"CDD521/02", 0},      {"CDD522/10", 0}, {"CDD2000", 0},
    {"CDD2600", 0},        {"CD-WO DW-S114X", 0}, {"RO-1420C", 0},  {"CD-R   CDU920S", 0},
    {"CD-R   CDU924S", 0}, {"RO1060C", 0},        {"CDR100", 0},    {"CDR102", 0},
    {"RCD-1000", 2},       {"RCD5040", 2},        {"RCD 4X4", 2},   {"MMC CD-RW DRIVE", 0}};

TEST_F(Dircast, EveryTrackAtOnceClassRecordsVolbuildsVolumeAndAPostgap) {
  const SampleTree sample = write_sample_tree(tree);
  const std::vector<uint8_t> image = volbuild_image();
  const std::size_t track = image.size() / DATA_BLOCK_SIZE + 150;
  for (const auto& [product, run_out] : kRecorders) {
    SCOPED_TRACE(product);
    forget_disc();
    const ProgramRun cast =
        run("dircast", {"src/", "/RECURSE", "/BATCH", "/VOLUME=sample"}, recorder(product));
    ASSERT_EQ(cast.status, 0) << cast.err;
    EXPECT_EQ(cast.out + cast.err, "");
    const std::vector<uint8_t> bin = read_file_bytes(disc + ".bin");
    ASSERT_EQ(track_faults(bin, image, run_out), "");
    std::vector<uint8_t> user;
    for (std::size_t lba = 0; lba < track; ++lba)
      user.insert(user.end(), bin.begin() + lba * RAW + 16,
                  bin.begin() + lba * RAW + 16 + DATA_BLOCK_SIZE);
    tree.write_text("track.iso", std::string(user.begin(), user.end()));
    EXPECT_EQ(extracted_tree_faults(tree, tree / "track.iso", sample), "");
    EXPECT_NE(read_file(disc + ".state").find("disc closed\nnext 11"), std::string::npos);
  }
}

// The extensions go into the same builder: the track is volbuild's image
// with the same switches, on every class.
TEST_F(Dircast, ExtendedVolumesAreVolbuildsOnEveryClass) {
  write_sample_tree(tree);
  tree.write_file("src/boot/loader.bin", 2048 * 3, 7);
  tree.make_folder("src/1/2/3/4/5/6/7/8/9");
  ASSERT_EQ(symlink("../boot/loader.bin", (tree / "src/1/link").c_str()), 0);
  const std::vector<std::string> switches = {"/JOLIET", "/ROCKRIDGE", "/BOOT=boot/loader.bin",
                                             "/BOOTINFO"};
  const std::vector<uint8_t> image = volbuild_image(switches);
  ASSERT_FALSE(image.empty());
  for (const auto& [product, run_out] : kRecorders) {
    SCOPED_TRACE(product);
    forget_disc();
    std::vector<std::string> arguments = {"src/", "/RECURSE", "/BATCH", "/VOLUME=sample"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    const ProgramRun cast = run("dircast", arguments, recorder(product));
    ASSERT_EQ(cast.status, 0) << cast.err;
    EXPECT_EQ(track_faults(read_file_bytes(disc + ".bin"), image, run_out), "");
  }
}

TEST_F(Dircast, SwitchesLeaveTheDiscAsTheyAskAndAFilledDiscIsRefused) {
  tree.make_folder("src");
  const std::string closing = "\nCD successfully recorded!\n";
  const std::string prompt = "Hit <RETURN> to begin recording (or CTRL/C to exit)...\n";
  const struct {
    std::vector<std::string> switches;
    std::string out;    // after the device lines
    std::string state;  // the disc's last lines; "" for a disc left blank
  } cases[] = {
      {{"/NOCONFIRM"},
       "\nFinalizing DISC (writing leadin/leadout)..." + closing,
       "disc closed\nnext 11571\nsession 1 1 1 171 closed\n"},
      {{"/NOCONFIRM", "/NOFINALIZE"},
       closing.substr(1),
       "disc open\nnext 321\nsession 1 1 1 171 open\n"},
      {{"/SESSION"},
       prompt + "\nFinalizing SESSION (writing leadin/leadout)..." + closing,
       "disc open\nnext 11571\nsession 1 1 1 171 closed\n"},
      {{"/TEST"},
       "TEST recording mode is enabled!\n" + prompt +
           "\nFinalizing DISC (writing leadin/leadout)..." + closing,
       ""},
      {{"/TEST", "/NOFINALIZE", "/NOCONFIRM"}, closing.substr(1), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.switches.back());
    forget_disc();
    std::vector<std::string> arguments = {"src/"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    ProgramRun cast = run("dircast", arguments);
    EXPECT_EQ(cast.status, 0);
    EXPECT_EQ(cast.err, "");
    EXPECT_EQ(cast.out, DEVICE_LINES + c.out);
    const std::string state = read_file(disc + ".state");
    EXPECT_EQ(state.substr(state.find('\n') + 1), c.state);
    if (c.state.empty()) continue;
    EXPECT_EQ(read_file_bytes(disc + ".bin").size(), 171 * RAW);
    const ProgramRun info = run("discinfo", {"/NOPROMPT"});
    EXPECT_NE(info.out.find("01   Data    00:02:00    000000"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Leadout: 00:04:21 (LBA 000171)"), std::string::npos) << info.out;

    cast = run("dircast", {"src/", "/BATCH"});
    EXPECT_EQ(cast.status, 1);
    EXPECT_EQ(cast.err,
              "Error: The disc in the CD-Recorder is not blank!\nThe volume is laid out from the "
              "disc's first block: record it onto a blank disc.\n");
    EXPECT_EQ(read_file(disc + ".state").substr(state.find('\n') + 1), c.state);
  }
}

TEST_F(Dircast, FaultsStopTheRunBeforeTheRecorderWrites) {
  tree.write_file("src/a.bin", 5000);
  // 449,708 blocks of a sparse file: with the 21 blocks before it and the
  // postgap, 29 blocks past the last address a disc has.
  tree.write_file("big/huge.bin", 0);
  std::filesystem::resize_file(tree / "big/huge.bin", 921000000);
  const std::string usage =
      "DIRCAST.EXE - Version 2.4A (November 1996)\n\n"
      "Usage: DIRCAST <pathname> [/ID=ha:id:lun] [/BATCH] [/NOCONFIRM]\n"
      "         [/NOFINALIZE] [/RECURSE] [/SESSION] [/SPEED=n] [/TEST]\n"
      "         [/VOLUME=label] [/HIDDEN] [/SYSTEM]\n"
      "         [/JOLIET] [/ROCKRIDGE] [/KEEPOWNERS] [/BOOT=path] [/BOOTLOAD=n] [/BOOTINFO]\n"
      "pathname    - Directory pathname (must end with '/')\n"
      "/ID         - SCSI ID of CD recorder (default is first found)\n"
      "/BATCH      - Disable all logging messages\n"
      "/NOCONFIRM  - Disable all confirmation prompts\n"
      "/NOFINALIZE - Disable session/disc finalization\n"
      "/RECURSE    - Recurse all subdirectories\n"
      "/SESSION    - Open new session after finalizing current session\n"
      "/SPEED=n    - Recording speed (default is maximum)\n"
      "/TEST       - Enable test recording mode\n"
      "/VOLUME     - Volume label (maximum 32 characters)\n"
      "/HIDDEN     - Process \"hidden\" files\n"
      "/SYSTEM     - Process \"system\" files\n"
      "/JOLIET     - Add Joliet names (up to 64 Unicode characters)\n"
      "/ROCKRIDGE  - Add Rock Ridge names, modes, times, links, deep trees\n"
      "/KEEPOWNERS - Keep owners and modes as they are (Rock Ridge only)\n"
      "/BOOT=path  - Boot image (path in the tree) for El Torito booting\n"
      "/BOOTLOAD=n - 512-byte sectors the BIOS loads (default is 4)\n"
      "/BOOTINFO   - Patch a boot information table into the boot image\n"
      "e.g. DIRCAST /DIR1/DIR2/ /ID=0:5:0\n"
      "e.g. DIRCAST // /RECURSE /VOLUME=MY_FILES\n";
  const std::string reader = "0:3:0=CD-ROM PX-12CS";
  const struct {
    std::vector<std::string> arguments;
    std::string bus;  // "" for a CDD2000 at 0:4:0
    std::string out, err;
  } cases[] = {
      {{}, "", usage, ""},
      {{"src/", "/test", "/?"}, "", usage, ""},
      {{"/BATCH"}, "", "", "Error: Filename must be specified!\n"},
      {{"src/", "more/"}, "", "", "Too many parameters - more/\n"},
      {{"src/", "/Nope"}, "", "", "Invalid switch - /Nope\n"},
      {{"src/", "/ID=0:4"}, "", "", "Error: Illegal /ID format!\n"},
      {{"src/", "/SPEED=3"}, "", "", "Error: Illegal recording speed specified!\n"},
      {{"src/", "/SPEEDY=2"}, "", "", "Error: Illegal /SPEED format!\n"},
      {{"src/", "/VOLUME=" + std::string(33, 'v')}, "", "", "Error: Volume label is too long!\n"},
      {{"src/", "/KEEPOWNERS"}, "", "", "Error: /KEEPOWNERS needs /ROCKRIDGE!\n"},
      {{"src/", "/BOOT=a.bin", "/BOOTLOAD=0"}, "", "", "Error: Illegal /BOOTLOAD format!\n"},
      {{"src/", "/BOOT=b.bin", "/NOCONFIRM"},
       "",
       DEVICE_LINES,
       "Error: Boot image \"b.bin\" is not a file of the volume!\n"},
      {{"src/", "/ID=0:3:0"},
       reader + ";0:4:0=CDD2000",
       "",
       "\nError: Specified device (0:3:0) is not a CD-Recorder or is unknown!\n"},
      {{"src/"},
       reader,
       "",
       "\nError: Unable to find a known CD-Recorder device on the SCSI bus!\n"},
      {{"src"}, "", DEVICE_LINES, "Error: Invalid pathname specification!\n"},
      {{"big/", "/NOCONFIRM"},
       "",
       DEVICE_LINES,
       "Error: Track of 449879 blocks is too long for a CD: addresses end at 99:59:74 (449850 "
       "blocks)!\n"},
      {{"missing/", "/NOCONFIRM"},
       "",
       DEVICE_LINES,
       "Error: Unable to read directory \"missing/\"\n"},
      {{"src/", "/BATCH", "/TEST"},
       "0:4:0=CDD2000",
       "",
       "\nError: 'TEST UNIT READY' command failed on device 0:4:0\n"},
      // A recorder that records disc-at-once only.
      {{"src/"},
       recorder("CDW-900E"),
       "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED CDW-900E         1.00\n\n",
       "Error: CD-Recorder does not support 'track-at-once' recording!\n"},
  };
  for (const auto& c : cases) {
    const ProgramRun cast = run("dircast", c.arguments, c.bus);
    EXPECT_EQ(cast.status, 1) << c.err;
    EXPECT_EQ(cast.out, c.out) << c.err;
    EXPECT_EQ(cast.err.substr(0, c.err.size()), c.err);
    EXPECT_FALSE(file_exists(disc + ".state")) << c.err;
  }
}

// dircast run by a shell that waits for its prompt, runs `change` in the
// tree, then answers; dircast's standard output goes to out.txt. The old
// out.txt goes first: the pipeline's halves start together, and the waiting
// half must not find the last run's prompt before dircast truncates the file.
ProgramRun cast_after(const ScratchTree& tree, const std::string& change) {
  const std::string script =
      "rm -f out.txt; i=0; { until grep -q RETURN out.txt 2>/dev/null || [ $i -gt 600 ]; do sleep "
      "0.05; "
      "i=$((i+1)); done;"
      " eval \"$2\"; echo; } | \"$1\" src/ /RECURSE /VOLUME=sample > out.txt";
  return run_command("sh", {"-c", script, "sh", std::string(CDM_BIN_DIR) + "/dircast", change},
                     tree.path());
}

TEST_F(Dircast, FilesThatChangeAfterTheScanKeepTheirBlocksOrEndTheRun) {
  const auto write_files = [this] {
    tree.write_file("src/a.bin", 5000);
    tree.write_file("src/b.bin", 3000, 2);
    for (const char* name : {"src/a.bin", "src/b.bin"}) tree.set_time(name, 1000000000);
  };
  write_files();
  const std::vector<uint8_t> image = volbuild_image();
  const struct {
    std::string change;
    int status;
    std::string err;
  } cases[] = {
      {"head -c 9000 /dev/zero >> src/a.bin", 0,
       "Warning: \"src/a.bin\" grew since the scan; only its first 5000 bytes are copied\n"},
      {"head -c 2000 src/b.bin > t && mv t src/b.bin", 0,
       "Warning: \"src/b.bin\" shrank since the scan; its blocks are padded with zeros\n"},
      {"rm src/b.bin", 1, "\nError: Unable to open \"src/b.bin\"\nNo such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    forget_disc();
    write_files();
    ScopedEnv emulated("EMULATED_SCSI_BUS", recorder("CDD2000"));
    const ProgramRun cast = cast_after(tree, c.change);
    EXPECT_EQ(cast.status, c.status);
    EXPECT_EQ(cast.err, c.err);
    if (c.status != 0) {
      EXPECT_EQ(
          read_file(tree / "out.txt"),
          DEVICE_LINES + "Hit <RETURN> to begin recording (or CTRL/C to exit)...\nsrc/a.bin\n");
      continue;
    }
    std::vector<uint8_t> expected = image;
    // The shrunk file's last 1000 bytes come as zeros.
    if (c.change.find("b.bin") != std::string::npos)
      std::fill(expected.end() - 4096 + 2000, expected.end() - 4096 + 3000, 0);
    EXPECT_EQ(track_faults(read_file_bytes(disc + ".bin"), expected), "");
  }
}

TEST_F(Dircast, ARecorderWithoutTrackAtOnceIsRefusedBeforeAnyCommandButTheScan) {
  tree.make_folder("src");
  install_drive_setup();
  cdm_test::ScopedTransport<cdm_test::RecordingTransport> transport(
      std::make_unique<cdm_test::RecordingTransport>(make_emulated_bus(recorder("CDW-900E"))));
  DircastSettings settings;
  settings.source_path = tree / "src/";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::string carried = "(no exit)";
  try {
    run_dircast(settings);
  } catch (const ToolExit& exit_record) {
    carried = exit_record.text;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED CDW-900E" +
                std::string(9, ' ') + "1.00\n\n");
  const std::string refusal = "Error: CD-Recorder does not support 'track-at-once' recording!\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal);
  EXPECT_EQ(carried, refusal);
  for (const auto& command : transport->commands) EXPECT_EQ(command.opcode(), 0x12);  // INQUIRY
  EXPECT_EQ(device_count(), 0u);
}

}  // namespace
