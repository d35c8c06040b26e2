#include "common/interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "common/msgvec.h"

namespace {

constexpr int MAX_TEMPORARY_FILES = 16;
constexpr std::size_t MAX_TEMPORARY_PATH = 4096;

std::atomic<int> received_signal{0};

// Fixed storage, so that the handler reads it without allocating. A slot is
// in use when its flag is set; the flag is set after the path is written and
// cleared before the slot is reused.
struct TemporarySlot {
  std::atomic<bool> used{false};
  char path[MAX_TEMPORARY_PATH] = {};
};
TemporarySlot temporary_files[MAX_TEMPORARY_FILES];

void remove_temporary_files() {
  for (TemporarySlot& slot : temporary_files)
    if (slot.used.load()) unlink(slot.path);
}

void on_signal(int number) {
  int expected = 0;
  if (received_signal.compare_exchange_strong(expected, number)) return;
  // A second signal: the program did not reach a safe point, or the user
  // insists. Leave nothing behind and end as the signal ends a program.
  remove_temporary_files();
  signal(number, SIG_DFL);
  raise(number);
}

const char* signal_name(int number) {
  switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

}  // namespace

void install_interrupt_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
}

int interrupt_signal() { return received_signal.load(); }

std::string interrupt_text() {
  return std::string("Interrupted by ") + signal_name(interrupt_signal());
}

void check_interrupt() {
  if (!interrupt_requested()) return;
  raise_message(MSG_TEXT, 1, 0, 0, interrupt_text());
}

void register_temporary_file(const std::string& path) {
  if (path.size() >= MAX_TEMPORARY_PATH) return;
  for (TemporarySlot& slot : temporary_files) {
    if (slot.used.load()) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.used.store(true);
    return;
  }
}

void forget_temporary_file(const std::string& path) {
  for (TemporarySlot& slot : temporary_files)
    if (slot.used.load() && path == slot.path) slot.used.store(false);
}

void reset_interrupt() { received_signal.store(0); }
