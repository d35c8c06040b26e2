// The runner the program tests stand on: what it reports of a program that
// ends, one that cannot start and one that outlives its time limit, which
// must fail its test instead of hanging the run.
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

TEST(RunProgram, EndsStartFailuresAndTimeLimits) {
  const struct {
    const char* what;
    int time_limit;
    std::vector<std::string> command;  // the program, then its arguments
    int status;
    std::string out, err;
  } cases[] = {
      {"a program that ends",
       10,
       {"sh", "-c", "read line; echo \"$line\"; echo e >&2; exit 3"},
       3,
       "input\n",
       "e\n"},
      {"a program not found",
       10,
       {"/nonexistent/program"},
       127,
       "",
       "(not started: No such file or directory)"},
      {"a program past its limit",
       1,
       {"sh", "-c", "echo started; exec sleep 30"},
       128 + 9,
       "started\n",
       "(killed: time limit)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> arguments(c.command.begin() + 1, c.command.end());
    const ProgramRun run = run_command(c.command[0], arguments, "", "input\n", c.time_limit);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    // Ended by its limit, long before the 30 s of the sleep.
    EXPECT_LT(took, std::chrono::seconds(c.time_limit + 5));
  }
}

}  // namespace
