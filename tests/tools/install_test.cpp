// `cmake --install` into a scratch DESTDIR: every program in bin/ and its
// man page in share/man/man1/, nothing else; the installed programs run; each
// man page formats without a warning, has the usual sections and a tagged
// paragraph for every switch its program's usage screen shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/switches.h"
#include "support/run_program.h"

namespace {

std::vector<std::string> programs() {
  std::vector<std::string> names;
  std::istringstream list(CDM_PROGRAMS);
  for (std::string name; std::getline(list, name, ',');) names.push_back(name);
  return names;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Every file below `root`, as paths relative to it.
std::set<std::string> files_below(const std::string& root) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    if (!entry.is_directory()) files.insert(std::filesystem::relative(entry.path(), root).string());
  return files;
}

// The switches a usage screen shows: the words that are switches (paths
// in its examples are not), up to their "=" if any.
std::set<std::string> usage_switches(const std::string& usage) {
  std::set<std::string> switches;
  std::string words = usage;
  std::replace_if(
      words.begin(), words.end(), [](char c) { return c == '[' || c == ']'; }, ' ');
  std::istringstream stream(words);
  for (std::string word; stream >> word;)
    if (is_switch_argument(word) && word != "/?") switches.insert(word.substr(0, word.find('=')));
  return switches;
}

TEST(Install, PutsEveryProgramAndItsManPageWhereTheyBelong) {
  ScratchDirectory dest;
  const ProgramRun install = run_command(
      "env", {"DESTDIR=" + dest.path(), "cmake", "--install", CDM_BUILD_DIR, "--prefix", "/usr"});
  ASSERT_EQ(install.status, 0) << install.out << install.err;

  std::set<std::string> expected;
  for (const std::string& name : programs()) {
    expected.insert("usr/bin/" + name);
    expected.insert("usr/share/man/man1/" + name + ".1");
  }
  EXPECT_EQ(files_below(dest.path()), expected);

  for (const std::string& name : programs()) {
    const ProgramRun version = run_command(dest.file("usr/bin/" + name), {"--version"});
    EXPECT_EQ(version.out, upper(name) + ".EXE - Version 2.4A (November 1996)\n");
    EXPECT_EQ(version.status, 0);
  }
}

TEST(Install, ManPagesFormatWithoutWarningsAndShowEverySwitch) {
  const std::vector<std::string> sections = {"NAME",        "SYNOPSIS",    "DESCRIPTION", "OPTIONS",
                                             "ENVIRONMENT", "EXIT STATUS", "EXAMPLES"};
  for (const std::string& name : programs()) {
    const std::string page = std::string(CDM_SOURCE_DIR) + "/man/" + name + ".1";
    const std::string source = read_file(page);
    ASSERT_NE(source, "") << page << " is missing";

    const ProgramRun man = run_command("man", {"--warnings", "-E", "UTF-8", "-l", page});
    EXPECT_EQ(man.status, 0) << name;
    EXPECT_EQ(man.err, "") << name;
    EXPECT_EQ(man.out.find(upper(name) + "(1)"), 0u) << man.out;
    for (const std::string& section : sections)
      EXPECT_NE(source.find("\n.SH " + section + "\n"), std::string::npos)
          << name << ": " << section;

    std::set<std::string> switches = usage_switches(run_program(name, {"--help"}).out);
    ASSERT_FALSE(switches.empty()) << name;
    switches.insert("\\-\\-help");
    switches.insert("\\-\\-version");
    for (const std::string& word : switches) {
      const bool tagged = source.find("\n.TP\n.B " + word + "\n") != std::string::npos ||
                          source.find("\n.TP\n.BI " + word + "=") != std::string::npos;
      EXPECT_TRUE(tagged) << name << ": no paragraph for " << word;
    }
  }
}

}  // namespace
