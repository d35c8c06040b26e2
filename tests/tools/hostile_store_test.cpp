// A recorder's disc as a hostile user or a second program finds it: files
// cut, edited, replaced by a FIFO or a device, a disc another program holds,
// a sheet whose image name also lies in the current folder, a recording
// ended by SIGTERM. Each case has its exact message and status, and the
// disc's files are compared after.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "support/burn_discs.h"
#include "support/patterns.h"

namespace {

using namespace cueburn_test;
namespace fs = std::filesystem;

// Every file of a folder (not its subfolders) with its size and a hash of
// its bytes; FIFOs and links by their kind, so that nothing is opened that
// could block.
std::map<std::string, std::string> folder_files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename();
    if (entry.is_symlink())
      files[name] = "link to " + fs::read_symlink(entry.path()).string();
    else if (entry.is_fifo())
      files[name] = "fifo";
    else if (entry.is_regular_file())
      files[name] = std::to_string(fs::file_size(entry.path())) + " bytes, hash " +
                    std::to_string(std::hash<std::string>{}(read_file(entry.path())));
  }
  return files;
}

class HostileStore : public CueBurn {
 protected:
  void SetUp() override {
    write_fixture(fixtures()[0]);
    fs::create_directory(folder + "/disc");
    ProgramRun burned = cueburn(bus, {"disc.cue", "/NOCONFIRM", "/SESSION"});
    ASSERT_EQ(burned.status, 0) << burned.err;
    pristine = folder_files(folder + "/disc");
    ASSERT_EQ(pristine.size(), 3u);
    for (const char* suffix : {".cue", ".bin", ".state"}) stored[suffix] = read_file(disc + suffix);
  }
  // Puts the recorded disc back as it was recorded.
  void restore() {
    fs::remove_all(folder + "/disc");
    fs::create_directory(folder + "/disc");
    for (const auto& [suffix, bytes] : stored) write_file(disc + suffix, bytes);
  }

  const std::string disc = folder + "/disc/m";
  const std::string bus = "0:4:0=CDD2000,medium=" + disc;
  std::map<std::string, std::string> pristine;  // the disc's files as folder_files lists them
  std::map<std::string, std::string> stored;    // their bytes, by suffix
};

// The first session's line of a state: its words before the lead-out, the
// lead-out, and the rest.
const cdm_test::Pattern SESSION_LINE("(session 1 \\d+ \\d+ )(\\d+)( \\w+)");

// The state with the first session's lead-out replaced ("$01": group 1,
// whatever digits follow).
std::string with_leadout(const std::string& state, const std::string& leadout) {
  return SESSION_LINE.replace(state, "$01" + leadout + "$03");
}

// Part `n` of the first session's line, 0 for all of it.
std::string session_part(const std::string& state, int n) {
  cdm_test::Groups match;
  SESSION_LINE.search(state, match);
  return match[n];
}

TEST_F(HostileStore, DamagedOrHeldDiscsAreRefusedAndLeftAlone) {
  const std::string state = stored.at(".state");
  const std::string cant = "\nError: The disc " + disc + " cannot be loaded: " + disc;
  const std::string in_use = "\nError: The disc " + disc + " is in use by another program\n";
  int held = -1;
  struct Case {
    const char* what;
    std::function<void()> damage;
    std::string err;
  };
  const Case cases[] = {
      {"an image cut by one byte takes no further session",
       [&] { fs::resize_file(disc + ".bin", stored.at(".bin").size() - 1); },
       cant + ".bin holds " + std::to_string(stored.at(".bin").size() - 1) +
           " bytes, not whole sectors of the tracks of m.cue\n"},
      {"a session that ends before its track",
       [&] { write_file(disc + ".state", with_leadout(state, "0")); },
       cant + ".state session 1 ends at LBA 0, its last track at " + session_part(state, 2) + "\n"},
      {"a lead-out past 2^31",
       [&] { write_file(disc + ".state", with_leadout(state, "2147483648")); },
       cant + ".state line \"" + session_part(with_leadout(state, "2147483648"), 0) +
           "\": not a session number, two track numbers and an LBA\n"},
      {"a lead-out past the capacity",
       [&] { write_file(disc + ".state", with_leadout(state, "400000")); },
       cant + ".state session 1 ends at LBA 400000, its last track at " + session_part(state, 2) +
           "\n"},
      {"a FIFO as the state would block every program",
       [&] {
         fs::remove(disc + ".state");
         mkfifo((disc + ".state").c_str(), 0644);
       },
       cant + ".state is not a regular file\n"},
      {"a link to /dev/zero as the state never ends",
       [&] {
         fs::remove(disc + ".state");
         fs::create_symlink("/dev/zero", disc + ".state");
       },
       cant + ".state is not a regular file\n"},
      {"a link to /dev/zero as the image",
       [&] {
         fs::remove(disc + ".bin");
         fs::create_symlink("/dev/zero", disc + ".bin");
       },
       cant + ".bin is not a regular file\n"},
      {"a sheet without its state", [&] { fs::remove(disc + ".state"); },
       cant + ".state is missing\n"},
      {"a sheet that names another image",
       [&] {
         write_file(disc + ".cue",
                    cdm_test::Pattern("m\\.bin").replace(stored.at(".cue"), "x.bin"));
       },
       cant + ".cue does not name m.bin as its one image file\n"},
      {"a disc another program holds",
       [&] {
         held = open((disc + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
         flock(held, LOCK_EX);
       },
       in_use},
  };
  for (const Case& c : cases) {
    for (const char* program : {"cueburn", "discinfo"}) {
      SCOPED_TRACE(std::string(c.what) + ", " + program);
      restore();
      c.damage();
      const auto before = folder_files(folder + "/disc");
      cdm_test::ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
      // The trace shows that no command was sent before the refusal.
      cdm_test::ScopedEnv trace("TRACE_SCSI_ENABLED", "1");
      const ProgramRun run =
          program == std::string("cueburn")
              ? run_program(program, {"disc.cue", "/NOCONFIRM", "/SESSION"}, folder)
              : run_program(program, {"/NOPROMPT"}, folder);
      EXPECT_EQ(run.err, c.err);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out.find("successfully"), std::string::npos);
      EXPECT_EQ(folder_files(folder + "/disc"), before);
      if (held >= 0) close(held);
      held = -1;
    }
  }
}

// From a folder that holds a file of the image's name, the disc still reads
// its own image: the listing is the one seen beside the disc, and a further
// session recorded from there leaves a disc that loads.
TEST_F(HostileStore, TheSheetFindsItsImageBesideItOnly) {
  const ProgramRun beside = discinfo(bus, {"/NOPROMPT"});
  ASSERT_EQ(beside.status, 0) << beside.err;
  fs::create_directory(folder + "/other");
  write_file(folder + "/other/m.bin", std::string(2352 * 7, 'x'));
  fs::copy_file(folder + "/disc.cue", folder + "/other/disc.cue");
  const Fixture fixture = fixtures()[0];
  for (const auto& [name, bytes] : fixture.files)
    fs::copy_file(folder + "/" + name, folder + "/other/" + name);
  cdm_test::ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
  ProgramRun run = run_program("discinfo", {"/NOPROMPT"}, folder + "/other");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, beside.out);
  // A copy of the first blocks is the disc's, not the stranger's.
  for (const std::string& where : {folder, folder + "/other"}) {
    run = run_program("ripspan", {"first.bin", "/BIN", "/END=6", "/NOJC", "/BATCH"}, where);
    EXPECT_EQ(run.status, 0) << run.err;
  }
  EXPECT_EQ(read_file(folder + "/other/first.bin"), read_file(folder + "/first.bin"));
  EXPECT_EQ(read_file(folder + "/first.bin").size(), 7u * RAW);
  EXPECT_NE(read_file(folder + "/first.bin"), std::string(2352 * 7, 'x'));
  run = run_program("cueburn", {"disc.cue", "/NOCONFIRM", "/SESSION"}, folder + "/other");
  EXPECT_EQ(run.status, 0) << run.err;
  run = run_program("discinfo", {"/NOPROMPT"}, folder);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out, beside.out);  // a second session
  EXPECT_EQ(read_file(folder + "/other/m.bin"), std::string(2352 * 7, 'x'));
}

// An answer of NO SENSE or RECOVERED ERROR says the drive did what it was
// asked, a WRITE's data taken with it; a Sony drive's "finished" report of
// sense key 0 counts whether or not it carries the end-of-medium bit. The
// disc is recorded as the same recorder records it without the answer.
TEST_F(HostileStore, RecoveredAndNoSenseAnswersCarryTheCommandOut) {
  const struct {
    const char* product;
    const char* fault;
  } cases[] = {
      {"CDD2000", "fail=35:1/17/00"},           {"CDD2000", "fail=35:0/00/00"},
      {"CDD2000", "fail=2A:1/17/00"},           {"CDD2000", "fail=2A:0/00/00*5"},
      {"MMC CD-RW DRIVE", "fail=2A:1/17/00"},   {"CD-R   CDU924S", "fail=E1:0/80/00"},
      {"CD-R   CDU924S", "fail=E1:40/80/00*3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.product) + " " + c.fault);
    const std::string faultless = "0:4:0=" + std::string(c.product) + ",medium=" + disc;
    std::map<std::string, std::string> recorded[2];
    for (int faulty = 0; faulty < 2; ++faulty) {
      fs::remove_all(folder + "/disc");
      fs::create_directory(folder + "/disc");
      const ProgramRun run =
          cueburn(faulty ? faultless + "," + c.fault : faultless, {"disc.cue", "/NOCONFIRM"});
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_NE(run.out.find("CD successfully recorded!"), std::string::npos);
      recorded[faulty] = folder_files(folder + "/disc");
    }
    EXPECT_EQ(recorded[1], recorded[0]);
    EXPECT_EQ(recorded[1].size(), 3u);
  }
}

// Starts a program with the bus value and standard input closed; its id.
pid_t start_program(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& directory, const std::string& err_file) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(directory.c_str()) != 0) _exit(127);
  const int null = open("/dev/null", O_RDWR);
  const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(null, 0);
  dup2(null, 1);
  dup2(err, 2);
  const std::string path = std::string(CDM_BIN_DIR) + "/" + program;
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(path.c_str(), argv.data());
  _exit(127);
}

// Waits up to `seconds` for the child; its exit status, 128 + signal, or -1.
int wait_for(pid_t pid, int seconds) {
  for (int tick = 0; tick < seconds * 100; ++tick) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// Whether a file whose name begins with `prefix` lies in the folder.
bool has_file_beginning(const std::string& folder, const std::string& prefix) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
  return false;
}

// A slow recording (every command takes real time, and the drive answers
// every other WRITE busy) ended by SIGTERM or SIGINT half way leaves the
// stored disc as it was and none of its new files; a second program that
// starts meanwhile is refused at once.
TEST_F(HostileStore, AnInterruptedRecordingLeavesTheDiscAsItWas) {
  // Half a minute of audio: a few hundred WRITEs of 5 ms each.
  write_file(folder + "/long.bin", std::string(2250 * RAW, '\x11'));
  write_file(folder + "/long.cue",
             "FILE \"long.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  const std::string slow = "0:4:0=CDR100,writebusy=2,latency=5,medium=" + disc;
  cdm_test::ScopedEnv emulated("EMULATED_SCSI_BUS", slow);
  const std::string err_file = folder + "/cueburn.err";
  for (const auto& [signal, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"}}) {
    SCOPED_TRACE(name);
    restore();
    const pid_t pid = start_program("cueburn", {"long.cue", "/NOCONFIRM"}, folder, err_file);
    bool writing = false;
    for (int tick = 0; tick < 2000 && !writing; ++tick) {
      writing = has_file_beginning(folder + "/disc", "m.bin.new-");
      if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(writing);
    const ProgramRun second = run_program("discinfo", {"/NOPROMPT"}, folder);
    EXPECT_EQ(second.err, "\nError: The disc " + disc + " is in use by another program\n");
    EXPECT_EQ(second.status, 1);
    kill(pid, signal);
    EXPECT_EQ(wait_for(pid, RUN_PROGRAM_TIME_LIMIT), 1);
    EXPECT_NE(read_file(err_file).find(std::string("Interrupted by ") + name), std::string::npos)
        << read_file(err_file);
    EXPECT_EQ(folder_files(folder + "/disc"), pristine);
  }
}

}  // namespace
