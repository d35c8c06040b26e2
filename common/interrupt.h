// SIGINT, SIGTERM and SIGHUP as a program of this suite takes them: the
// first one asks the program to stop at its next safe point (between two
// blocks of a recording or a rip), so that it can leave its files whole and
// say what happened; a second one ends it at once, after removing the
// temporary files it has registered. SIGXFSZ is ignored, so that a file
// larger than the file size limit fails its write (EFBIG) and is reported,
// instead of killing the program with a half-written output.
#pragma once

#include <string>

// Installs the handlers; run_tool calls it before a program's body.
// Blocking reads and waits are interrupted (no SA_RESTART), so a prompt or a
// pause ends early when a signal arrives.
void install_interrupt_handlers();

// The signal that asked the program to stop, or 0.
int interrupt_signal();
inline bool interrupt_requested() { return interrupt_signal() != 0; }

// "Interrupted by SIGTERM": the text of an interrupted run.
std::string interrupt_text();

// Throws the error of an interrupted run (a MSGVEC carrying interrupt_text)
// when a signal asked the program to stop; does nothing otherwise.
void check_interrupt();

// Files that must not outlive an interrupted program (a recording's
// temporary image): a second signal removes them before the program ends.
// At most 16 are kept; a path longer than 4095 bytes is not registered.
// Registered files are removed by their owners on every ordinary path.
void register_temporary_file(const std::string& path);
void forget_temporary_file(const std::string& path);

// For tests: forgets a signal received, so that one process can run several
// interrupted flows.
void reset_interrupt();
