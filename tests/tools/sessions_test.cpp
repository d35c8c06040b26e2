// Discs of several sessions: a sheet of two sessions (audio, then data: a
// CD-Extra) recorded by cueburn on the recorders that leave a disc open,
// listed by discinfo, read back by the emulated readers, ripspan and
// cd-info, described by sheetgen and recorded again from that description;
// dircast volumes appended as later sessions and read by xorriso.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/burn_discs.h"
#include "support/run_program.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;

// The decimal number after `label` in `text`, or 0.
std::size_t scan_number(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  return at == std::string::npos ? 0 : std::stoul(text.substr(at + label.size()));
}
using cueburn_test::pattern;

const char* const kTwoSessions =
    "REM SESSION 01\n"
    "FILE \"a1.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
    "FILE \"a2.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n"
    "REM SESSION 02\n"
    "FILE \"data.bin\" BINARY\n  TRACK 03 MODE1/2048\n    INDEX 01 00:00:00\n";

// Session 1 ends at LBA 1000; session 2's track follows its lead-out (6750),
// lead-in (4500) and pregap (150).
const char* const kSessionLines =
    "\nSession 01: Tracks 01 to 02, Leadout: 00:15:25 (LBA 001000)\n"
    "Session 02: Tracks 03 to 03, Leadout: 02:47:47 (LBA 012422)\n";
const char* const kStateSessions = "session 1 1 2 1000 closed\nsession 2 3 3 12422 closed\n";

class Sessions : public testing::Test {
 protected:
  void SetUp() override {
    write_bytes("a1.bin", pattern(600, 2352, 1));
    write_bytes("a2.bin", pattern(400, 2352, 2));
    write_bytes("data.bin", pattern(22, 2048, 3));
    write_file(scratch.file("two.cue"), kTwoSessions);
  }
  void write_bytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    write_file(scratch.file(name), std::string(bytes.begin(), bytes.end()));
  }
  ProgramRun run(const std::string& bus, const std::string& program,
                 const std::vector<std::string>& arguments) {
    ScopedEnv env("EMULATED_SCSI_BUS", bus);
    return run_program(program, arguments, scratch.path());
  }
  // The lines after the lead-out line of a discinfo listing.
  static std::string after_leadout(const std::string& listing) {
    const std::size_t at = listing.find("Leadout: ");
    return at == std::string::npos ? "" : listing.substr(listing.find('\n', at) + 1);
  }

  ScratchDirectory scratch;
  ScopedEnv no_writer{"CDWRITER_ID", std::nullopt};
  ScopedEnv no_reader{"CDREADER_ID", std::nullopt};
};

// Every recorder that leaves a disc open records the same two sessions:
// the same stored image, sessions and listing as the MMC recorder's.
TEST_F(Sessions, TwoSessionSheetIsRecordedAsTwoSessions) {
  std::string reference;
  for (const char* product : {"MMC CD-RW DRIVE", "CDD2000", "CDD2600", "RCD5040", "CD-R50S-000"}) {
    SCOPED_TRACE(product);
    const std::string disc = scratch.file(std::string("disc-") + product[0] + product[4]);
    const std::string bus = std::string("0:4:0=") + product + ",medium=" + disc;
    const ProgramRun burn = run(bus, "cueburn", {"two.cue", "/NOCONFIRM"});
    ASSERT_EQ(burn.status, 0) << burn.out << burn.err;
    EXPECT_NE(burn.out.find("Recording session 02 of 02...\n"), std::string::npos) << burn.out;
    const std::string state = read_file(disc + ".state");
    EXPECT_NE(state.find(kStateSessions), std::string::npos) << state;
    const ProgramRun info = run(bus, "discinfo", {"/NOPROMPT"});
    EXPECT_EQ(after_leadout(info.out), kSessionLines) << info.out;
    if (reference.empty()) reference = read_file(disc + ".bin");
    EXPECT_TRUE(read_file(disc + ".bin") == reference);
  }
  // A reader no one here wrote finds the second session in the stored sheet.
  const ProgramRun peer = run_command(
      "cd-info", {"--no-header", "--no-device-info", "--no-cddb", "--cue-file", "disc-MC.cue"},
      scratch.path());
  EXPECT_NE(peer.out.find("CD-Plus/Extra"), std::string::npos) << peer.out << peer.err;
  EXPECT_NE(peer.out.find("session #2 starts at track  3, LSN: 12400"), std::string::npos)
      << peer.out;
}

// The readers load the sheet itself as the disc a recorder makes of it, and
// copy a track of either session.
TEST_F(Sessions, ReadersLoadSheetsOfSeveralSessions) {
  for (const char* product : {"CD-ROM PX-12CS", "MMC CD-ROM DRIVE", "CD-ROM CDU-76S"}) {
    SCOPED_TRACE(product);
    const std::string bus = std::string("0:3:0=") + product + ",medium=" + scratch.file("two.cue");
    EXPECT_EQ(after_leadout(run(bus, "discinfo", {"/NOPROMPT"}).out), kSessionLines);
    const ProgramRun data =
        run(bus, "ripspan", {"t3.bin", "/TRACK=3", "/DATA", "/BLKLEN=2048", "/BATCH"});
    ASSERT_EQ(data.status, 0) << data.err;
    EXPECT_TRUE(read_file(scratch.file("t3.bin")) == read_file(scratch.file("data.bin")));
    const ProgramRun audio = run(bus, "ripspan", {"t2.wav", "/TRACK=2", "/BATCH"});
    ASSERT_EQ(audio.status, 0) << audio.err;
    // Track 2 from its index 1: the file after its two seconds of index 0.
    EXPECT_TRUE(read_file(scratch.file("t2.wav")).substr(44) ==
                read_file(scratch.file("a2.bin")).substr(150 * 2352));
  }
}

// sheetgen describes the recorded disc with its sessions; that sheet, given
// the stored image, records the same disc again.
TEST_F(Sessions, SheetgenDescriptionRecordsTheSameDisc) {
  const std::string first = scratch.file("first");
  ASSERT_EQ(
      run("0:4:0=MMC CD-RW DRIVE,medium=" + first, "cueburn", {"two.cue", "/NOCONFIRM"}).status, 0);
  for (const char* scan : {"/SUBCODE=NONE", "/SUBCODE=ALL"}) {
    SCOPED_TRACE(scan);
    const ProgramRun gen = run("0:3:0=CD-ROM PX-12CS,medium=" + first + ".cue", "sheetgen",
                               {"copy.cue", scan, "/BATCH"});
    ASSERT_EQ(gen.status, 0) << gen.err;
    std::string sheet = read_file(scratch.file("copy.cue"));
    EXPECT_NE(sheet.find("REM SESSION 02\n  TRACK 03 MODE1/2352\n    INDEX 00 00:13:25\n"
                         "    INDEX 01 02:45:25\n"),
              std::string::npos)
        << sheet;
    sheet.replace(0, sheet.find('\n'), "FILE \"first.bin\" BINARY");
    write_file(scratch.file("copy.cue"), sheet);
    const std::string again = scratch.file("again");
    for (const char* ext : {".cue", ".bin", ".state"}) std::remove((again + ext).c_str());
    const ProgramRun burn =
        run("0:4:0=MMC CD-RW DRIVE,medium=" + again, "cueburn", {"copy.cue", "/NOCONFIRM"});
    ASSERT_EQ(burn.status, 0) << burn.err;
    EXPECT_TRUE(read_file(again + ".bin") == read_file(first + ".bin"));
    EXPECT_EQ(read_file(again + ".state"), read_file(first + ".state"));
    // Without the scan the index 0 of track 02 is not found: it stays audio
    // of track 01, the same frames.
    const std::string cue = read_file(first + ".cue");
    if (std::string(scan) == "/SUBCODE=ALL") {
      EXPECT_EQ(read_file(again + ".cue"),
                "FILE \"again.bin\" BINARY" + cue.substr(cue.find('\n')));
    }
  }
}

// /VERIFY reads every session back where the disc puts it: a block altered
// in either session is found at its own address, under its disc track.
TEST_F(Sessions, VerificationReadsEverySession) {
  const std::string differences =
      "\nError: Verification found differences between the disc and what was sent\n";
  const struct {
    const char* corrupt;
    int status;
    std::string err;
  } cases[] = {
      {"", 0, ""},
      {",corrupt=12405-12406", 1,
       "TRACK 03: 2 blocks differ, the first at LBA 012405 (02:47:30)\n" + differences},
      // Across the gap between the sessions: the end of track 02, then
      // track 03's pregap and its first two blocks.
      {",corrupt=900-12401", 1,
       "TRACK 02: 100 blocks differ, the first at LBA 000900 (00:14:00)\n"
       "TRACK 03: 152 blocks differ, the first at LBA 012250 (02:45:25)\n" +
           differences},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.corrupt);
    const std::string disc = scratch.file("verified");
    for (const char* ext : {".cue", ".bin", ".state"}) std::remove((disc + ext).c_str());
    const ProgramRun burn = run(std::string("0:4:0=MMC CD-RW DRIVE,medium=") + disc + c.corrupt,
                                "cueburn", {"two.cue", "/NOCONFIRM", "/VERIFY"});
    EXPECT_EQ(burn.status, c.status);
    EXPECT_EQ(burn.err, c.err);
    for (const char* track : {"01", "02", "03"})
      EXPECT_NE(burn.out.find(std::string("Verifying TRACK ") + track + "... 100%\n"),
                std::string::npos)
          << burn.out;
    EXPECT_EQ(burn.out.find("Verification completed: no differences\n") != std::string::npos,
              c.status == 0);
  }
}

// Sheets of several sessions refused before anything is written.
TEST_F(Sessions, RefusedBeforeAnythingIsWritten) {
  write_file(scratch.file("wave.cue"),
             "FILE \"a1.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
             "REM SESSION 02\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n");
  write_bytes("a1.wav", cueburn_test::wav(600));
  const struct {
    const char* recorder;
    const char* sheet;
    const char* error;
  } cases[] = {
      {"CDR100", "two.cue",
       "\nError: The CUE SHEET lays out 2 sessions (session 02 begins at track 03); only a disc "
       "of one session can be recorded from it\n"},
      {"KHSW/OB-01", "two.cue",
       "\nError: The CUE SHEET lays out 2 sessions (session 02 begins at track 03); only a disc "
       "of one session can be recorded from it\n"},
      {"MMC CD-RW DRIVE,capacity=1", "two.cue",
       "\nError: The disc image (02:47:47) is longer than the blank disc (01:00:00)\n"},
      {"MMC CD-RW DRIVE", "wave.cue",
       "\nError: The audio file \"a1.wav\" holds tracks of two sessions, or the gap before a "
       "session: only a BINARY file can be cut there\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.recorder);
    const std::string disc = scratch.file("refused");
    const ProgramRun burn = run(std::string("0:4:0=") + c.recorder + ",medium=" + disc, "cueburn",
                                {c.sheet, "/NOCONFIRM"});
    EXPECT_EQ(burn.status, 1);
    EXPECT_NE(burn.err.find(c.error), std::string::npos) << burn.err;
    EXPECT_EQ(read_file(disc + ".state"), "");
  }
}

// dircast onto a disc that holds a session lays the volume out at the next
// writable address: xorriso reads the last session's volume there. A
// recorder that reports no such address refuses the disc.
TEST_F(Sessions, DircastAppendsAVolumeAtTheNextWritableAddress) {
  for (const char* tree : {"one", "two"}) {
    ASSERT_EQ(mkdir(scratch.file(tree).c_str(), 0755), 0);
    write_file(scratch.file(std::string(tree) + "/" + tree + ".txt"), std::string(tree) + "\n");
  }
  const std::string mmc = "0:4:0=MMC CD-RW DRIVE,medium=" + scratch.file("ms");
  ASSERT_EQ(run(mmc, "dircast", {"one/", "/SESSION", "/NOCONFIRM"}).status, 0);
  const ProgramRun second = run(mmc, "dircast", {"two/", "/SESSION", "/NOCONFIRM"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.out.find("The volume begins at LBA 011572, after the sessions on the disc\n"),
            std::string::npos)
      << second.out;
  // The user data of every sector, as an image of 2048-byte blocks.
  const std::string raw = read_file(scratch.file("ms.bin"));
  std::string image;
  for (std::size_t at = 0; at + 2352 <= raw.size(); at += 2352) image += raw.substr(at + 16, 2048);
  write_file(scratch.file("ms.iso"), image);
  const ProgramRun peer =
      run_command("xorriso",
                  {"-abort_on", "FAILURE", "-load", "sbsector", "11572", "-indev", "stdio:ms.iso",
                   "-osirrox", "on", "-extract", "/TWO.TXT", "two.out"},
                  scratch.path());
  ASSERT_EQ(peer.status, 0) << peer.err;
  EXPECT_EQ(read_file(scratch.file("two.out")), "two\n");

  // A bootable volume of a later session: the boot record, the catalog's
  // load address and the boot information table all point at disc blocks,
  // where the descriptor and the image really lie.
  write_file(scratch.file("two/boot.bin"), std::string(5000, '\x5A'));
  const ProgramRun boot =
      run(mmc, "dircast", {"two/", "/SESSION", "/NOCONFIRM", "/BOOT=boot.bin", "/BOOTINFO"});
  ASSERT_EQ(boot.status, 0) << boot.err;
  const std::size_t origin = scan_number(boot.out, "The volume begins at LBA ");
  ASSERT_GT(origin, 11572u) << boot.out;
  const std::string disc = read_file(scratch.file("ms.bin"));
  const auto block = [&](std::size_t lba) { return disc.substr(lba * 2352 + 16, 2048); };
  const auto le32 = [](const std::string& bytes, std::size_t at) {
    return static_cast<std::size_t>(
        static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
        static_cast<uint8_t>(bytes[at + 2]) << 16 |
        static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24);
  };
  EXPECT_EQ(block(origin + 16).substr(0, 6), "\1CD001");
  const std::string record = block(origin + 17);
  ASSERT_EQ(record.substr(0, 6), std::string("\0CD001", 6));
  const std::string catalog = block(le32(record, 71));
  EXPECT_EQ(catalog.substr(30, 2), "\x55\xAA");
  const std::size_t boot_extent = le32(catalog, 40);
  const std::string loader = block(boot_extent);
  EXPECT_EQ(le32(loader, 8), origin + 16);   // the primary descriptor
  EXPECT_EQ(le32(loader, 12), boot_extent);  // the image itself
  EXPECT_EQ(le32(loader, 16), 5000u);
  EXPECT_EQ(loader.substr(64), std::string(2048 - 64, '\x5A'));
  EXPECT_EQ(block(le32(loader, 8)).substr(0, 6), "\1CD001");

  const std::string philips = "0:4:0=CDD2000,medium=" + scratch.file("old");
  ASSERT_EQ(run(philips, "dircast", {"one/", "/SESSION", "/NOCONFIRM"}).status, 0);
  const ProgramRun refused = run(philips, "dircast", {"two/", "/SESSION", "/NOCONFIRM"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Error: The disc in the CD-Recorder is not blank!\n"),
            std::string::npos)
      << refused.err;
}

}  // namespace
