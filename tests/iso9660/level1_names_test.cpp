#include "iso9660/level1_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

TEST(Level1Names, HostNamesBecomeUpperCase83Names) {
  EXPECT_EQ(level1_name("readme.txt", false), "README.TXT");
  EXPECT_EQ(level1_name("Long_File_Name.text", false), "LONG_FIL.TEX");
  EXPECT_EQ(level1_name("archive.tar.gz", false), "ARCHIVE_.GZ");
  EXPECT_EQ(level1_name("my file-1.c", false), "MY_FILE_.C");
  EXPECT_EQ(level1_name("Makefile", false), "MAKEFILE");
  EXPECT_EQ(level1_name(".bashrc", false), "BASHRC");
  EXPECT_EQ(level1_name("caf\xc3\xa9.txt", false), "CAF__.TXT");
  EXPECT_EQ(level1_name("...", false), "_");
  EXPECT_EQ(level1_name("name.", false), "NAME");
  // Directories have no extension: their dots are ordinary characters.
  EXPECT_EQ(level1_name("my.dir.long", true), "MY_DIR_L");
  EXPECT_EQ(level1_name(".git", true), "GIT");
}

TEST(Level1Names, CollisionsGetUnderscoreTailsThatKeepTheExtension) {
  Level1NameSet names;
  EXPECT_EQ(names.unique_name("LongFileName1.txt", false), "LONGFILE.TXT");
  EXPECT_EQ(names.unique_name("LongFileName2.txt", false), "LONGFI_1.TXT");
  EXPECT_EQ(names.unique_name("longfilename3.txt", false), "LONGFI_2.TXT");
  EXPECT_EQ(names.unique_name("LongFileName.doc", false), "LONGFILE.DOC");
  EXPECT_EQ(names.unique_name("A.txt", false), "A.TXT");
  EXPECT_EQ(names.unique_name("a.txt", false), "A_1.TXT");
  EXPECT_EQ(names.unique_name("git", true), "GIT");
  EXPECT_EQ(names.unique_name(".git", true), "GIT_1");
}

TEST(Level1Names, TailsWidenPastNineAndSkipNamesAlreadyTaken) {
  Level1NameSet names;
  EXPECT_EQ(names.unique_name("ABCDEF~1.TXT", false), "ABCDEF_1.TXT");
  std::set<std::string> seen = {"ABCDEF_1.TXT"};
  std::vector<std::string> made;
  for (int i = 0; i < 12; ++i)
    made.push_back(names.unique_name("abcdefghij" + std::to_string(i) + ".txt", false));
  EXPECT_EQ(made[0], "ABCDEFGH.TXT");
  EXPECT_EQ(made[1], "ABCDEF_2.TXT");
  EXPECT_EQ(made[8], "ABCDEF_9.TXT");
  EXPECT_EQ(made[9], "ABCDE_10.TXT");
  EXPECT_EQ(made[11], "ABCDE_12.TXT");
  for (const std::string& name : made) {
    EXPECT_TRUE(seen.insert(name).second) << name;
    EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char c) {
      return c == '.' || is_level1_character(c);
    })) << name;
  }
}

TEST(Level1Names, AMadeUpNameNeverTakesALaterNamesPlainForm) {
  // In host order "longfile1.txt" comes first and is cut to LONGFILE.TXT;
  // "longfile2.txt" would be LONGFI_1.TXT, which "longfi_1.txt" has already
  // by its own name, so the tailed name is the next free one.
  const std::vector<std::string> names = unique_level1_names({{"longfile1.txt", false},
                                                              {"longfile2.txt", false},
                                                              {"longfi_1.txt", false},
                                                              {"LONGFILE", true},
                                                              {"longfile", false}});
  EXPECT_EQ(names, (std::vector<std::string>{"LONGFILE.TXT", "LONGFI_2.TXT", "LONGFI_1.TXT",
                                             "LONGFILE", "LONGFI_1"}));
}

TEST(Level1Names, ThousandsOfCollidingNamesStayUnique) {
  Level1NameSet names;
  std::set<std::string> seen;
  for (int i = 0; i < 20000; ++i) {
    const std::string name =
        names.unique_name("samename" + std::to_string(i % 3) + "_" + std::to_string(i), false);
    ASSERT_LE(name.size(), 8u);
    ASSERT_TRUE(seen.insert(name).second) << name;
  }
}

}  // namespace
