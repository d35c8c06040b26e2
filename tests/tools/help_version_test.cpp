// "--help" and "--version" in every program: the usage screen or the banner
// line on standard output and status 0, wherever the switch stands and
// whatever else the line holds, with nothing else done. "/?" keeps its
// status 1. A new program is one row of kPrograms.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_tree.h"

namespace {

struct Program {
  const char* program;
  const char* tool_name;
  // Arguments that make the program write "out" in the current folder,
  // which holds "in.iso" (2048 zero bytes) and the folder "in/".
  std::vector<std::string> work;
};

const Program kPrograms[] = {
    {"sectconv", "SECTCONV", {"in.iso", "out"}},
    {"volbuild", "VOLBUILD", {"in/", "out"}},
    {"discinfo", "DISCINFO", {}},
    {"ripspan", "RIPSPAN", {}},
    {"cueburn", "CUEBURN", {}},
    {"dircast", "DIRCAST", {}},
    {"sheetgen", "SHEETGEN", {}},
};

// Names the row in test listings.
void PrintTo(const Program& p, std::ostream* os) { *os << p.program; }

std::string banner(const Program& p) {
  return std::string(p.tool_name) + ".EXE - Version 2.4A (November 1996)\n";
}

class EveryProgram : public testing::TestWithParam<Program> {
 protected:
  EveryProgram() {
    tree_.write_file("in.iso", 2048);
    tree_.make_folder("in");
  }
  ProgramRun run(const std::vector<std::string>& arguments) {
    return run_program(GetParam().program, arguments, tree_.path());
  }
  bool wrote_output() const { return file_exists(tree_ / "out"); }

  ScratchTree tree_;
};

TEST_P(EveryProgram, HelpPrintsTheUsageScreenWithStatus0) {
  ProgramRun usage = run({"/?"});
  EXPECT_EQ(usage.status, 1);
  // A usage screen that pauses for a key does so only for "/?".
  const std::string pause = "<hit any key to continue>\r";
  if (const std::size_t at = usage.out.find(pause); at != std::string::npos)
    usage.out.erase(at, pause.size());
  const std::string heading = banner(GetParam()) + "\nUsage: " + GetParam().tool_name + " ";
  ASSERT_EQ(usage.out.rfind(heading, 0), 0u) << usage.out;

  std::vector<std::vector<std::string>> lines = {
      {"--help"},
      {"--help", "--version"},
      {"/NOSUCHSWITCH", "one", "two", "three", "--help"},
  };
  std::vector<std::string> after_work = GetParam().work;
  after_work.push_back("--help");
  lines.push_back(after_work);
  for (const std::vector<std::string>& arguments : lines) {
    const ProgramRun help = run(arguments);
    EXPECT_EQ(help.out, usage.out) << arguments.back();
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.status, 0);
    EXPECT_FALSE(wrote_output());
  }
  // The same line without "--help" does write.
  if (!GetParam().work.empty()) {
    EXPECT_EQ(run(GetParam().work).status, 0);
    EXPECT_TRUE(wrote_output());
  }
}

TEST_P(EveryProgram, VersionPrintsTheBannerLineWithStatus0) {
  std::vector<std::string> after_work = GetParam().work;
  after_work.push_back("--version");
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--version"},
                                                    {"--version", "--help"},
                                                    {"/ID=x", "--version"},
                                                    after_work}) {
    const ProgramRun version = run(arguments);
    EXPECT_EQ(version.out, banner(GetParam()));
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.status, 0);
    EXPECT_FALSE(wrote_output());
  }
}

// Only the lower-case words are the Linux conventions; "--HELP" is an
// ordinary argument, and a wrong one for every program.
TEST_P(EveryProgram, UpperCaseHelpIsAnOrdinaryArgument) {
  const ProgramRun run_upper = run({"--HELP", "--VERSION", "more"});
  EXPECT_EQ(run_upper.status, 1);
  EXPECT_EQ(run_upper.out.find("Usage:"), std::string::npos) << run_upper.out;
  EXPECT_NE(run_upper.err, "");
}

INSTANTIATE_TEST_SUITE_P(Programs, EveryProgram, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program>& row) {
                           return std::string(row.param.program);
                         });

}  // namespace
