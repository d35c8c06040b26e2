// discinfo run as a user runs it, on discs in emulated drives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "support/cue_images.h"
#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;

const char kHeader[] =
    "                                  Copy       Pre      Four\n"
    "Trk  Type   Min:Sec:Frm   LBA   Permitted  Emphasis  Channel      ISRC\n"
    "---  ----   -----------   ---   ---------  --------  -------      ----\n";

std::string found(const char* product, unsigned id = 3) {
  return "CDROM device found...\n  HA #0 - SCSI ID #" + std::to_string(id) + " - EMULATED " +
         product + " 1.00\n\n";
}

class Discinfo : public testing::Test {
 protected:
  // Writes the disc and puts it in a drive at 0:3:0 (more devices may follow).
  std::string disc_in_drive(const SampleDisc& disc, const std::string& more = "") {
    const std::string cue = write_sample_disc(folder, "disc", disc);
    return "0:3:0=CD-ROM PX-12CS,medium=" + cue + more;
  }
  ProgramRun discinfo(const std::string& bus, const std::vector<std::string>& arguments,
                      const std::string& input = "") {
    ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
    return run_program("discinfo", arguments, "", input);
  }

  ScratchDirectory scratch;
  std::string folder = scratch.path();
  ScopedEnv no_reader_id{"CDREADER_ID", std::nullopt};
  ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

SampleDisc audio_disc(unsigned tracks) {
  SampleDisc disc;
  for (unsigned i = 0; i < tracks; ++i)
    disc.tracks.push_back({TrackType::Audio, 100 + i, 0, "", ""});
  return disc;
}

SampleDisc data_and_audio(TrackType data_type) {
  SampleDisc disc;
  disc.catalog = "5012345678900";
  disc.tracks = {{data_type, 4500, 0, "", ""},
                 {TrackType::Audio, 1000, 150, "USABC9600001", "DCP"},
                 {TrackType::Audio, 800, 0, "", "PRE 4CH"},
                 {TrackType::Audio, 700, 75, "FR1239700042", ""}};
  return disc;
}

TEST_F(Discinfo, AudioDisc) {
  const ProgramRun run = discinfo(disc_in_drive(audio_disc(3)), {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            found("CD-ROM PX-12CS  ") + kHeader +
                "01   Audio   00:02:00    000000     No        No        No     Not Available\n"
                "02   Audio   00:03:25    000100     No        No        No     Not Available\n"
                "03   Audio   00:04:51    000201     No        No        No     Not Available\n"
                "\nLeadout: 00:06:03 (LBA 000303)\n");
}

TEST_F(Discinfo, DataAndAudioWithEverySwitch) {
  const std::string listing =
      "02   Audio   01:04:00    004650    Yes        No        No     USABC9600001\n"
      "03   Audio   01:17:25    005650     No       Yes       Yes     Not Available\n"
      "04   Audio   01:29:00    006525     No        No        No     FR1239700042\n"
      "\nLeadout: 01:38:25 (LBA 007225)\n";
  ProgramRun run =
      discinfo(disc_in_drive(data_and_audio(TrackType::Mode1)), {"/MODE", "/mcn", "/ISRC"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            found("CD-ROM PX-12CS  ") + "Media Catalog Number: 5012345678900\n" + kHeader +
                "01   Mode1   00:02:00    000000     No        No        No     Not Available\n" +
                listing);

  run = discinfo(disc_in_drive(data_and_audio(TrackType::Mode2)), {"/MODE", "/ISRC"});
  EXPECT_EQ(run.out,
            found("CD-ROM PX-12CS  ") + kHeader +
                "01   Mode2   00:02:00    000000     No        No        No     Not Available\n" +
                listing);

  // Without the switches: no mode, no codes, no catalog line.
  run = discinfo(disc_in_drive(data_and_audio(TrackType::Mode2)), {});
  EXPECT_EQ(run.out.substr(run.out.find("01   ")),
            "01   Data    00:02:00    000000     No        No        No     Not Available\n"
            "02   Audio   01:04:00    004650    Yes        No        No     Not Available\n"
            "03   Audio   01:17:25    005650     No       Yes       Yes     Not Available\n"
            "04   Audio   01:29:00    006525     No        No        No     Not Available\n"
            "\nLeadout: 01:38:25 (LBA 007225)\n");
}

TEST_F(Discinfo, AbsentCatalogNumberAndCodes) {
  const ProgramRun run = discinfo(disc_in_drive(audio_disc(1)), {"/MCN", "/ISRC"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            found("CD-ROM PX-12CS  ") + "Media Catalog Number: Not Available\n" + kHeader +
                "01   Audio   00:02:00    000000     No        No        No     Not Available\n"
                "\nLeadout: 00:03:25 (LBA 000100)\n");
}

TEST_F(Discinfo, PagesEveryTwelveTracks) {
  const std::string prompt = "<hit any key to continue>\r";
  ProgramRun run = discinfo(disc_in_drive(audio_disc(13)), {}, "x");
  EXPECT_EQ(run.status, 0);
  const std::size_t at = run.out.find(prompt);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(run.out.find(prompt, at + 1), std::string::npos);     // once
  EXPECT_EQ(run.out.compare(at - 14, 14, "Not Available\n"), 0);  // after line 12
  EXPECT_EQ(run.out.compare(at + prompt.size(), 5, "13   "), 0);  // before line 13

  run = discinfo(disc_in_drive(audio_disc(13)), {"/NOPROMPT"});
  EXPECT_EQ(run.out.find(prompt), std::string::npos);
  EXPECT_NE(run.out.find("\n13   Audio"), std::string::npos);
  run = discinfo(disc_in_drive(audio_disc(12)), {});
  EXPECT_EQ(run.out.find(prompt), std::string::npos);  // no thirteenth line to wait for
}

TEST_F(Discinfo, NoDiscInTheDrive) {
  const ProgramRun run = discinfo("0:3:0=CD-ROM PX-12CS", {});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, found("CD-ROM PX-12CS  "));
  EXPECT_EQ(run.err,
            "\nError: 'TEST UNIT READY' command failed on device 0:3:0\nDevice is not ready\n");
}

TEST_F(Discinfo, CommandLineErrors) {
  const std::string bus = disc_in_drive(audio_disc(1));
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
  };
  const Case cases[] = {
      {{"/ID=0:3"}, "Error: Illegal /ID format!\n"},
      {{"/ID"}, "Error: Illegal /ID format!\n"},
      {{"/IDENT"}, "Error: Illegal /ID format!\n"},
      {{"/id=a:b:c"}, "Error: Illegal /ID format!\n"},
      {{"/MODES"}, "Invalid switch - /MODES\n"},
      {{"/Dump2"}, "Invalid switch - /Dump2\n"},
      {{"disc"}, "Too many parameters - disc\n"},
      {{"/ID=0:4:0"}, "\nError: Specified device (0:4:0) is not a CDROM!\n"},
      {{"/ID=256:3:0"}, "\nError: Specified device (256:3:0) is not a CDROM!\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = discinfo(bus, c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments[0];
    EXPECT_EQ(run.out, "") << c.arguments[0];
    EXPECT_EQ(run.err, c.err) << c.arguments[0];
  }
  const ProgramRun usage = discinfo(bus, {"/MCN", "/?"});
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.out,
            "DISCINFO.EXE - Version 2.4A (November 1996)\n\n"
            "Usage: DISCINFO [/ID=ha:id:lun] [/ISRC] [/MCN] [/MODE] [/NOPROMPT]\n"
            "/ID       - SCSI ID of CDROM device (default is first found)\n"
            "/ISRC     - Display the 'International Standard Recording Codes'\n"
            "/MCN      - Display the 'Media Catalog Number'\n"
            "/MODE     - Display the sector mode of all data tracks\n"
            "/NOPROMPT - Disable screen prompting\n");
  const ProgramRun none = discinfo("0:5:0=DISC TRANSPORTER;0:6:0=DISK,type=0", {});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "\nError: Unable to find a CDROM device on the SCSI bus!\n");
}

TEST_F(Discinfo, ChoosingTheDrive) {
  // 0:3:0 holds a one-track disc, 0:5:0 a two-track disc.
  const std::string first = disc_in_drive(audio_disc(1));
  const std::string second =
      ";0:5:0=CD-ROM XM-3401TA,medium=" + write_sample_disc(folder, "second", audio_disc(2));
  const std::string bus = first + second;
  EXPECT_EQ(discinfo(bus, {}).out.substr(0, 38), found("CD-ROM PX-12CS  ").substr(0, 38));
  ProgramRun run = discinfo(bus, {"/id=0:5:0"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, found("CD-ROM XM-3401TA", 5).size()), found("CD-ROM XM-3401TA", 5));
  EXPECT_NE(run.out.find("\n02   Audio"), std::string::npos);
  {
    ScopedEnv reader("CDREADER_ID", "0:5:0");
    EXPECT_NE(discinfo(bus, {}).out.find("SCSI ID #5"), std::string::npos);
    EXPECT_NE(discinfo(bus, {"/ID=0:3:0"}).out.find("SCSI ID #3"), std::string::npos);
    ScopedEnv missing("CDREADER_ID", "0:6:0");
    EXPECT_EQ(discinfo(bus, {}).err, "\nError: Specified device (0:6:0) is not a CDROM!\n");
  }
  // A recorder is the drive when it is the first reader or recorder; the
  // transporter before it does not count.
  const std::string cue = folder + "/disc.cue";
  run = discinfo("0:1:0=DISC TRANSPORTER;0:2:0=CDD2000,medium=" + cue + ";" + first, {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, found("CDD2000         ", 2).size()), found("CDD2000         ", 2));
}

TEST_F(Discinfo, ModePageDump) {
  const ProgramRun run = discinfo(disc_in_drive(audio_disc(1)), {"/DUMP"});
  EXPECT_EQ(run.status, 0);
  const std::string tail = run.out.substr(run.out.find("(LBA 000100)\n") + 13);
  const std::string expected =
      "page code   = 01\npage length = 6\npage code   = 02\npage length = 14\n"
      "page code   = 0D\npage length = 6\npage code   = 0E\npage length = 14\n"
      "page code   = 2A\npage length = 20\n"
      "page code   = 31\npage length = 2\nspeed = 5\n";  // the drive's speed page
  EXPECT_EQ(tail, expected);  // the pages the drive has, none made up from the empty rest
}

// A bus of `count` readers without discs at ha:id:0, eight to a host adapter.
std::string many_readers(unsigned count) {
  std::string bus;
  for (unsigned i = 0; i < count; ++i)
    bus += std::to_string(i / 8) + ":" + std::to_string(i % 8) + ":0=CD-ROM XM-3401TA;";
  return bus;
}

TEST_F(Discinfo, HostileDrivesValuesAndNumbers) {
  const std::string one_track = disc_in_drive(audio_disc(1));
  const std::string listing =
      found("CD-ROM PX-12CS  ") + kHeader +
      "01   Audio   00:02:00    000000     No        No        No     Not Available\n"
      "\nLeadout: 00:03:25 (LBA 000100)\n";
  const std::string id_format = "Error: Illegal /ID format!\n";
  std::string disks;  // 64 disks ahead of the reader do not fill the device list
  for (unsigned i = 0; i < 64; ++i)
    disks += std::to_string(i / 8) + ":" + std::to_string(i % 8) + ":0=DISK,type=0;";
  struct Case {
    std::string what;
    std::string bus;
    std::vector<std::string> arguments;
    std::optional<std::string> reader_id;  // CDREADER_ID
    std::optional<std::string> writer_id;  // CDWRITER_ID
    std::string out;
    std::string err;
    int status;
  };
  const Case cases[] = {
      // NO SENSE and RECOVERED ERROR say the drive did the command: the
      // table it sent lists as usual.
      {"recovered error", one_track + ",fail=43:1/17/01", {}, {}, {}, listing, "", 0},
      {"sense key 0", one_track + ",fail=43:0/00/00", {}, {}, {}, listing, "", 0},
      {"medium error",
       one_track + ",fail=43:3/11/00",
       {},
       {},
       {},
       found("CD-ROM PX-12CS  "),
       "\nError: 'READ TOC' command failed on device 0:3:0\nBad medium detected\n",
       1},
      {"mode sense fails",
       one_track + ",fail=1A:4/44/00",
       {"/DUMP"},
       {},
       {},
       listing,
       "\nError: 'MODE SENSE' command failed on device 0:3:0\nUnrecoverable hardware error\n",
       1},
      // One BUSY answer is waited out like NOT READY; three NOT READY are not.
      {"busy once", one_track + ",busy=1", {}, {}, {}, listing, "", 0},
      {"not ready twice", one_track + ",notready=2", {}, {}, {}, listing, "", 0},
      {"not ready thrice",
       one_track + ",notready=3",
       {},
       {},
       {},
       found("CD-ROM PX-12CS  "),
       "\nError: 'TEST UNIT READY' command failed on device 0:3:0\nDevice is not ready\n",
       1},
      // A drive spinning up for two seconds is ready after the two pauses of
      // one second between three tries, one for three seconds is not: the
      // pauses move the emulated clock on.
      {"spinning up two seconds", one_track + ",spinup=2", {}, {}, {}, listing, "", 0},
      {"spinning up three seconds",
       one_track + ",spinup=3",
       {},
       {},
       {},
       found("CD-ROM PX-12CS  "),
       "\nError: 'TEST UNIT READY' command failed on device 0:3:0\nDevice is not ready\n",
       1},
      // Numbers are read whole and in range.
      {"wrapping ha", one_track, {"/ID=65536:3:0"}, {}, {}, "", id_format, 1},
      {"negative ha", one_track, {"/ID=-65536:3:0"}, {}, {}, "", id_format, 1},
      {"sign", one_track, {"/ID=+0:3:0"}, {}, {}, "", id_format, 1},
      {"text after", one_track, {"/ID=0:3:0junk"}, {}, {}, "", id_format, 1},
      {"fourth part", one_track, {"/ID=0:3:0:0"}, {}, {}, "", id_format, 1},
      {"blank", one_track, {"/ID=0: 3:0"}, {}, {}, "", id_format, 1},
      {"many digits", one_track, {"/ID=000000000000000000065536:3:0"}, {}, {}, "", id_format, 1},
      {"leading zeros", one_track, {"/ID=000:03:0"}, {}, {}, listing, "", 0},
      {"reader variable out of range",
       one_track,
       {},
       "256:259:0",
       {},
       "",
       "\nError: Invalid CDREADER_ID value \"256:259:0\" (ha:id:lun, each a number from 0 to "
       "255)\n",
       1},
      {"reader variable garbage",
       one_track,
       {},
       "garbage",
       {},
       "",
       "\nError: Invalid CDREADER_ID value \"garbage\" (ha:id:lun, each a number from 0 to 255)\n",
       1},
      {"writer variable short",
       one_track,
       {},
       {},
       "0:3",
       "",
       "\nError: Invalid CDWRITER_ID value \"0:3\" (ha:id:lun, each a number from 0 to 255)\n",
       1},
      {"empty reader variable", one_track, {}, "", {}, listing, "", 0},
      // The emulated bus reads its numbers the same way.
      {"bad sectors open range",
       "0:3:0=CD-ROM PX-12CS,bad=5-",
       {},
       {},
       {},
       "",
       "\nError: Invalid EMULATED_SCSI_BUS value: bad item \"bad=5-\" (FIRST[-LAST], LBAs)\n",
       1},
      {"signed count",
       "0:3:0=CD-ROM PX-12CS,notready=+1",
       {},
       {},
       {},
       "",
       "\nError: Invalid EMULATED_SCSI_BUS value: bad count in \"notready=+1\" in "
       "\"0:3:0=CD-ROM PX-12CS,notready=+1\"\n",
       1},
      // The device list keeps 64 usable devices and says when it kept no more.
      {"disks do not fill the list",
       disks + "8:0:0=CD-ROM PX-12CS,medium=" + folder + "/disc.cue",
       {},
       {},
       {},
       "CDROM device found...\n  HA #8 - SCSI ID #0 - EMULATED CD-ROM PX-12CS   1.00\n\n" +
           listing.substr(found("CD-ROM PX-12CS  ").size()),
       "",
       0},
      {"full list",
       many_readers(72),
       {"/ID=8:7:0"},
       {},
       {},
       "",
       "\nError: Specified device (8:7:0) is not a CDROM!\n"
       "The device list holds 64 devices; 8 more found on the bus were ignored.\n",
       1},
  };
  for (const Case& c : cases) {
    ScopedEnv reader("CDREADER_ID", c.reader_id);
    ScopedEnv writer("CDWRITER_ID", c.writer_id);
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("/NOPROMPT");
    const ProgramRun run = discinfo(c.bus, arguments);
    EXPECT_EQ(run.status, c.status) << c.what;
    EXPECT_EQ(run.out, c.out) << c.what;
    EXPECT_EQ(run.err, c.err) << c.what;
  }
}

// A cue sheet or an image that is no regular file, or a sheet too large to be
// real, makes the bus value invalid: discinfo says why and ends, never waits.
TEST_F(Discinfo, MediumThatIsNoRegularFile) {
  const std::string fifo = folder + "/fifo.cue";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string large = folder + "/large.cue";
  write_file(large, "REM " + std::string(1 << 20, 'x') + "\n");
  ASSERT_EQ(mkfifo((folder + "/image.bin").c_str(), 0600), 0);
  const std::string fifo_image = folder + "/image.cue";
  write_file(fifo_image, "FILE image.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  const std::string lead = "\nError: Invalid EMULATED_SCSI_BUS value: cue sheet \"";
  struct Case {
    std::string sheet;
    std::string err;
  };
  const Case cases[] = {
      {fifo, fifo + "\": Unable to open file \"" + fifo + "\": Cue sheet is not a regular file!\n"},
      {"/dev/zero",
       "/dev/zero\": Unable to open file \"/dev/zero\": Cue sheet is not a regular file!\n"},
      {folder,
       folder + "\": Unable to open file \"" + folder + "\": Cue sheet is not a regular file!\n"},
      {large,
       large + "\": Unable to open file \"" + large + "\": Cue sheet is larger than 1 MB!\n"},
      {fifo_image, fifo_image + "\": Invalid CUE SHEET command at line 1: Unable to open file "
                                "\"image.bin\": Not a regular "
                                "file\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = discinfo("0:3:0=CD-ROM PX-12CS,medium=" + c.sheet, {});
    EXPECT_EQ(run.status, 1) << c.sheet;
    EXPECT_EQ(run.out, "") << c.sheet;
    EXPECT_EQ(run.err, lead + c.err) << c.sheet;
  }
}

}  // namespace
