#include "iso9660/level1_names.h"

#include <gtest/gtest.h>

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

TEST(Level1Names, CollisionsGetTildeTailsThatKeepTheExtension) {
  Level1NameSet names;
  EXPECT_EQ(names.unique_name("LongFileName1.txt", false), "LONGFILE.TXT");
  EXPECT_EQ(names.unique_name("LongFileName2.txt", false), "LONGFI~1.TXT");
  EXPECT_EQ(names.unique_name("longfilename3.txt", false), "LONGFI~2.TXT");
  EXPECT_EQ(names.unique_name("LongFileName.doc", false), "LONGFILE.DOC");
  EXPECT_EQ(names.unique_name("A.txt", false), "A.TXT");
  EXPECT_EQ(names.unique_name("a.txt", false), "A~1.TXT");
  EXPECT_EQ(names.unique_name("git", true), "GIT");
  EXPECT_EQ(names.unique_name(".git", true), "GIT~1");
}

TEST(Level1Names, TailsWidenPastNineAndNeverMeetAHostName) {
  Level1NameSet names;
  // '~' is not a level 1 character, so no host name can take a tail's place.
  EXPECT_EQ(names.unique_name("ABCDEF~1.TXT", false), "ABCDEF_1.TXT");
  std::set<std::string> seen = {"ABCDEF_1.TXT"};
  std::vector<std::string> made;
  for (int i = 0; i < 12; ++i) made.push_back(names.unique_name("abcdefghij" + std::to_string(i) + ".txt", false));
  EXPECT_EQ(made[0], "ABCDEFGH.TXT");
  EXPECT_EQ(made[1], "ABCDEF~1.TXT");
  EXPECT_EQ(made[9], "ABCDEF~9.TXT");
  EXPECT_EQ(made[10], "ABCDE~10.TXT");
  EXPECT_EQ(made[11], "ABCDE~11.TXT");
  for (const std::string& name : made) EXPECT_TRUE(seen.insert(name).second) << name;
}

TEST(Level1Names, ThousandsOfCollidingNamesStayUnique) {
  Level1NameSet names;
  std::set<std::string> seen;
  for (int i = 0; i < 20000; ++i) {
    const std::string name = names.unique_name("samename" + std::to_string(i % 3) + "_" + std::to_string(i), false);
    ASSERT_LE(name.size(), 8u);
    ASSERT_TRUE(seen.insert(name).second) << name;
  }
}

}  // namespace
