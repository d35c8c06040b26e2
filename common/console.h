// Console conventions shared by every tool: the exit record, the one handler
// around a tool's body, banner and usage screen, prompts, paging, the progress
// line, the beep and the pause. Ordinary output goes to standard output, error
// texts to standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Thrown by library code that has already printed its message and wants the
// process to end with `status` (the library never calls exit itself). `text`
// is what that path printed (an error on standard error, or a usage screen or
// banner on standard output), so that a flow run in one process can be
// checked against what a user would have seen.
struct ToolExit {
  int status = 1;
  std::string text;
};

// Runs a tool's body inside the one handler: a caught MSGVEC is printed with
// print_message_vector, a ToolExit gives its status, an allocation failure
// prints "\nMemory allocation error!\n", any other exception "\nError: %s\n"
// with its text. Returns the exit status. Before the body, descriptors 0, 1
// and 2 are opened on /dev/null where they are closed (status 1 when that
// fails), and SIGPIPE is ignored. After it, both streams are flushed, and
// when anything written to standard output was lost, "\nError writing
// standard output: %s\n" with the system's reason goes to standard error and
// the status is 1.
int run_tool(const std::function<int()>& body);

// Prints an error text on standard error and throws ToolExit{1}.
[[noreturn]] void fail_with(const std::string& text);

// printf into a std::string, never cut.
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes on standard output / standard error exactly as given.
void out_text(const std::string& text);
void err_text(const std::string& text);

// "NAME.EXE - Version 2.4A (November 1996)\n" for a tool name in capitals.
std::string banner_line(const std::string& tool_name);

// The usage screen: banner, empty line, then the given lines as they stand;
// with `key_pause`, "<hit any key to continue>\r" and a key before the lines.
// Returns the text printed.
std::string print_usage_screen(const std::string& tool_name, const std::vector<std::string>& lines,
                               bool key_pause = false);

// Confirmation prompt: prints `prompt` (no newline), waits for RETURN, then
// prints a newline.
void confirm_prompt(const std::string& prompt);

// Reads standard input up to and including the end of the line; returns at
// once at end of input.
void wait_for_return();

// Reads one key without echo (termios raw mode on a terminal, one byte
// otherwise). Returns -1 at end of input. Goes through the replaceable key
// reader.
int wait_for_key();

// Replaces the key reader (tests); an empty function restores the console one.
void set_key_reader(std::function<int()> reader);

// Counts rows of a long table and, when enabled, stops with
// "<hit any key to continue>\r" before each row that begins a new page
// (rows 1+n, 1+2n, ...), so a table that fills its last page never waits
// after its last row.
class Pager {
 public:
  Pager(unsigned rows_per_page, bool enabled) : rows_per_page_(rows_per_page), enabled_(enabled) {}
  // Call before printing each row.
  void before_row();

 private:
  unsigned rows_per_page_;
  bool enabled_;
  unsigned rows_ = 0;
};

// The percentage progress line: " 0%% completed.\r" at start, then each new
// whole percentage, never repeated and never going backwards.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled = true) : enabled_(enabled) {}
  void start();
  void update(uint64_t done, uint64_t total);
  // " 100% completed.\n".
  void finish();

 private:
  bool enabled_;
  unsigned last_ = 0;
};

// Pauses for `milliseconds` through the replaceable sleep function (a test's
// recorder). Without one, a pause waits for real, unless virtual pauses are
// set: then it hands the time to them (the emulated bus advances its drives'
// clock) and returns at once. A test's sleep function sees the pause too, and
// virtual pauses still advance.
void platform_sleep(unsigned milliseconds);
void set_sleep_function(std::function<void(unsigned)> sleeper);
// Sets (or, with an empty function, clears) the virtual pauses.
void set_virtual_pauses(std::function<void(unsigned)> advance);

// Rings the terminal bell.
void beep();

// Allocates `size` bytes (zeroed when asked); on failure prints
// "\nMemory allocation error!\n" and throws ToolExit{1}. Free with std::free.
void* allocate_or_exit(std::size_t size, bool zero);
