#include "common/console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

#include "common/interrupt.h"
#include "common/msgvec.h"

namespace {

const char kVersion[] = "2.4A";
const char kVersionDate[] = "November 1996";

std::function<int()>& key_reader() {
  static std::function<int()> reader;
  return reader;
}

std::function<void(unsigned)>& sleeper() {
  static std::function<void(unsigned)> function;
  return function;
}

std::function<void(unsigned)>& virtual_pauses() {
  static std::function<void(unsigned)> advance;
  return advance;
}

// The reason of the first failed write on standard output (0: none yet).
// Kept when it happens: the C library drops the unwritten data, so a later
// flush that has nothing left to write succeeds.
int& output_error() {
  static int error = 0;
  return error;
}

void note_output_error() {
  if (output_error() == 0) output_error() = errno != 0 ? errno : EIO;
}

void flush_output() {
  if (std::fflush(stdout) != 0) note_output_error();
}

// Makes sure descriptors 0, 1 and 2 are open, on /dev/null where they are
// not, so that no file the program opens takes the place of one and gets
// what is written to standard output. False when that cannot be done.
bool open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is taken: this one, as those below are open.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != fd) {
      if (opened >= 0) ::close(opened);
      return false;
    }
  }
  return true;
}

// After the body: "\nError writing standard output: %s\n" with the system's
// reason when anything written there was lost (a full disk, a closed pipe).
bool standard_output_written() {
  flush_output();
  if (output_error() == 0 && !std::ferror(stdout)) return true;
  const int error = output_error() != 0 ? output_error() : EIO;
  std::fprintf(stderr, "\nError writing standard output: %s\n", std::strerror(error));
  return false;
}

int console_key() {
  flush_output();
  unsigned char byte = 0;
  if (isatty(STDIN_FILENO)) {
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios raw = saved;
      raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      tcsetattr(STDIN_FILENO, TCSANOW, &raw);
      const ssize_t got = read(STDIN_FILENO, &byte, 1);
      tcsetattr(STDIN_FILENO, TCSANOW, &saved);
      return got == 1 ? byte : -1;
    }
  }
  return read(STDIN_FILENO, &byte, 1) == 1 ? byte : -1;
}

}  // namespace

int run_tool(const std::function<int()>& body) {
  if (!open_standard_descriptors()) return 1;
  // A write to a closed pipe fails with EPIPE and is reported, instead of
  // ending the program without a word.
  std::signal(SIGPIPE, SIG_IGN);
  install_interrupt_handlers();
  output_error() = 0;
  std::clearerr(stdout);
  int status = 1;
  try {
    status = body();
  } catch (const MSGVEC& record) {
    print_message_vector(record);
    status = 1;
  } catch (const ToolExit& exit_record) {
    status = exit_record.status;
  } catch (const std::bad_alloc&) {
    flush_output();
    std::fputs("\nMemory allocation error!\n", stderr);
    status = 1;
  } catch (const std::exception& failure) {
    // Anything else thrown ends the tool as a reported error, never as a crash.
    flush_output();
    std::fprintf(stderr, "\nError: %s\n", failure.what());
    status = 1;
  }
  if (!standard_output_written()) status = 1;
  std::fflush(stderr);
  return status;
}

void fail_with(const std::string& text) {
  err_text(text);
  throw ToolExit{1, text};
}

std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (needed > 0) {
    out.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(needed));
  }
  va_end(args);
  return out;
}

void out_text(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) note_output_error();
}

void err_text(const std::string& text) {
  flush_output();
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

std::string banner_line(const std::string& tool_name) {
  return format_text("%s.EXE - Version %s (%s)\n", tool_name.c_str(), kVersion, kVersionDate);
}

std::string print_usage_screen(const std::string& tool_name, const std::vector<std::string>& lines,
                               bool key_pause) {
  std::string printed = banner_line(tool_name) + "\n";
  out_text(printed);
  if (key_pause) {
    out_text("<hit any key to continue>\r");
    printed += "<hit any key to continue>\r";
    std::fflush(stdout);
    wait_for_key();
  }
  for (const std::string& line : lines) {
    out_text(line);
    printed += line;
  }
  return printed;
}

void confirm_prompt(const std::string& prompt) {
  out_text(prompt);
  wait_for_return();
  out_text("\n");
}

void wait_for_return() {
  flush_output();
  int c = 0;
  do {
    c = std::getchar();
  } while (c != EOF && c != '\n');
  // A signal ends the read early: the prompt is not answered.
  check_interrupt();
}

int wait_for_key() {
  const std::function<int()>& reader = key_reader();
  const int key = reader ? reader() : console_key();
  check_interrupt();
  return key;
}

void set_key_reader(std::function<int()> reader) { key_reader() = std::move(reader); }

void Pager::before_row() {
  const unsigned row = rows_++;
  if (!enabled_ || rows_per_page_ == 0 || row == 0 || row % rows_per_page_ != 0) return;
  out_text("<hit any key to continue>\r");
  wait_for_key();
}

void ProgressLine::start() {
  last_ = 0;
  if (enabled_) out_text(" 0% completed.\r");
  flush_output();
}

void ProgressLine::update(uint64_t done, uint64_t total) {
  if (total == 0) return;
  const auto percent = static_cast<unsigned>(done * 100 / total);
  if (percent > last_) {
    last_ = percent;
    if (enabled_) {
      out_text(format_text(" %u%% completed.\r", percent));
      flush_output();
    }
  }
}

void ProgressLine::finish() {
  if (enabled_) out_text(" 100% completed.\n");
}

void platform_sleep(unsigned milliseconds) {
  const std::function<void(unsigned)>& function = sleeper();
  const std::function<void(unsigned)>& advance = virtual_pauses();
  if (function) function(milliseconds);
  if (advance) advance(milliseconds);
  if (!function && !advance) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void set_sleep_function(std::function<void(unsigned)> function) { sleeper() = std::move(function); }

void set_virtual_pauses(std::function<void(unsigned)> advance) {
  virtual_pauses() = std::move(advance);
}

void beep() {
  out_text("\a");
  flush_output();
}

void* allocate_or_exit(std::size_t size, bool zero) {
  void* block = zero ? std::calloc(size == 0 ? 1 : size, 1) : std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) fail_with("\nMemory allocation error!\n");
  return block;
}
