// volbuild's Joliet, Rock Ridge and El Torito volumes, read back by readers
// that no one here wrote: xorriso (Rock Ridge), 7-Zip (Joliet), isoinfo (both), xorriso's
// El Torito report, and the boot structures byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include "support/scratch_tree.h"

namespace {

namespace fs = std::filesystem;

ProgramRun volbuild(const std::vector<std::string>& arguments, const std::string& folder) {
  return run_program("volbuild", arguments, folder);
}

uint32_t le32(const std::vector<uint8_t>& bytes, std::size_t at) {
  return bytes.at(at) | (uint32_t{bytes.at(at + 1)} << 8) | (uint32_t{bytes.at(at + 2)} << 16) |
         (uint32_t{bytes.at(at + 3)} << 24);
}

const std::string kLongA = std::string(66, 'a');
const std::string kDeep = "d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/d11/d12/d13/d14/d15/d16/d17";

// Names Joliet cuts, Latin-1 and UTF-8 names, a 244-character name, modes,
// links short and long (a target past one entry), a tree 18 levels deep.
void write_extended_tree(const ScratchTree& tree) {
  tree.write_file("src/My Holiday Photos 2026.jpg", 3000, 1);
  tree.write_file("src/caf\xc3\xa9 cr\xc3\xa8me.txt", 10, 2);
  tree.write_file("src/latin\xe9.txt", 5, 3);
  tree.write_file("src/" + kLongA + "1.txt", 7, 4);
  tree.write_file("src/" + kLongA + "2.txt", 8, 5);
  tree.write_file("src/" + std::string(240, 'N') + ".dat", 2049, 6);
  tree.write_file("src/run.sh", 100, 7);
  tree.write_file("src/private.txt", 0);
  ASSERT_EQ(chmod((tree / "src/run.sh").c_str(), 0750), 0);
  ASSERT_EQ(chmod((tree / "src/private.txt").c_str(), 0600), 0);
  tree.write_file("src/" + kDeep + "/leaf.txt", 4097, 8);
  // A folder whose records take more than 31 sectors in both trees.
  for (int i = 0; i < 1500; ++i)
    tree.write_file("src/many/" + std::to_string(i) + std::string(40, 'm'), 0);
  tree.make_folder("src/links");
  const std::string long_target = std::string(200, 'x') + "/" + std::string(200, 'y') + "/../end";
  for (const auto& [name, target] : std::vector<std::pair<std::string, std::string>>{
           {"rel", "../run.sh"}, {"abs", "/etc/hostname"}, {"long", long_target}}) {
    ASSERT_EQ(symlink(target.c_str(), (tree / ("src/links/" + name)).c_str()), 0);
  }
}

// One line per path below `folder`: type, mode bits, size of files, target
// of links; the relocation directory left out.
std::set<std::string> listing(const std::string& folder,
                              const std::function<mode_t(mode_t)>& mode_of) {
  std::set<std::string> lines;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    const std::string path = fs::relative(item.path(), folder).string();
    if (path.rfind(".rr_moved", 0) == 0) continue;
    struct stat info {};
    lstat(item.path().c_str(), &info);
    std::string line = path + " " + std::to_string(mode_of(info.st_mode));
    if (S_ISREG(info.st_mode)) line += " " + std::to_string(info.st_size);
    if (S_ISLNK(info.st_mode)) line += " -> " + fs::read_symlink(item.path()).string();
    lines.insert(line);
  }
  return lines;
}

mode_t as_is(mode_t mode) { return mode & 07777; }
mode_t normalised(mode_t mode) {
  if (S_ISLNK(mode)) return 0777;
  return (S_ISDIR(mode) || (mode & 0111)) ? 0555 : 0444;
}

TEST(VolbuildExtensions, RockRidgeAndJolietReadersSeeTheTreeAsItIs) {
  ScratchTree tree;
  write_extended_tree(tree);
  ASSERT_EQ(
      volbuild({"src/", "out.iso", "/RECURSE", "/JOLIET", "/ROCKRIDGE", "/BATCH"}, tree.path())
          .status,
      0);
  ASSERT_EQ(
      volbuild({"src/", "keep.iso", "/RECURSE", "/ROCKRIDGE", "/KEEPOWNERS", "/BATCH"}, tree.path())
          .status,
      0);
  const struct {
    const char* image;
    std::function<mode_t(mode_t)> mode_of;
  } cases[] = {{"out.iso", normalised}, {"keep.iso", as_is}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    fs::remove_all(tree / "copy");
    const ProgramRun extracted =
        run_command("xorriso",
                    {"-osirrox", "on", "-indev", std::string("stdio:") + c.image, "-extract", "/",
                     tree / "copy"},
                    tree.path());
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(listing(tree / "copy", as_is), listing(tree / "src", c.mode_of));
    for (const std::string& file : files_below(tree / "src"))
      EXPECT_EQ(read_file_bytes(tree / ("copy/" + file)), read_file_bytes(tree / ("src/" + file)))
          << file;
  }
  // Joliet: 64 characters at most, the extension kept, cut names made
  // unique, Latin-1 read as such; links are empty files there.
  const ProgramRun joliet = run_command("7zz", {"l", "-slt", "out.iso"}, tree.path());
  ASSERT_EQ(joliet.status, 0) << joliet.err;
  std::set<std::string> paths;
  std::size_t at = 0;
  while ((at = joliet.out.find("\nPath = ", at)) != std::string::npos) {
    at += 8;
    paths.insert(joliet.out.substr(at, joliet.out.find('\n', at) - at));
  }
  paths.erase("out.iso");
  std::set<std::string> expected = {"My Holiday Photos 2026.jpg",
                                    "caf\xc3\xa9 cr\xc3\xa8me.txt",
                                    "latin\xc3\xa9.txt",
                                    std::string(60, 'a') + ".txt",
                                    std::string(58, 'a') + "_1.txt",
                                    std::string(60, 'N') + ".dat",
                                    "run.sh",
                                    "private.txt",
                                    "links",
                                    "links/rel",
                                    "links/abs",
                                    "links/long"};
  for (std::size_t from = 0;;) {
    const std::size_t slash = kDeep.find('/', from);
    expected.insert(kDeep.substr(0, slash));
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  expected.insert(kDeep + "/leaf.txt");
  expected.insert("many");
  for (int i = 0; i < 1500; ++i)
    expected.insert("many/" + std::to_string(i) + std::string(40, 'm'));
  EXPECT_EQ(paths, expected);
  // isoinfo reads both views: the Rock Ridge names as the tree has them (it
  // lists relocated folders where they were moved, so they are compared by
  // name), the Joliet paths as 7-Zip reads them (printed in Latin-1).
  std::set<std::string> host_names;
  for (const auto& item : fs::recursive_directory_iterator(tree / "src"))
    host_names.insert(item.path().filename().string());
  const struct {
    std::vector<std::string> view;
    std::function<std::string(std::string)> name_of;
    std::set<std::string> expected;
  } views[] = {
      {{"-R"}, [](std::string line) { return line.substr(line.rfind('/') + 1); }, host_names},
      {{"-J", "-j", "iso8859-1"},
       [](std::string line) {
         if (line.size() > 2 && line.compare(line.size() - 2, 2, ";1") == 0)
           line.resize(line.size() - 2);
         std::string utf8;
         for (const unsigned char c : line.substr(1)) {
           if (c < 0x80)
             utf8 += static_cast<char>(c);
           else
             utf8 += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
         }
         return utf8;
       },
       expected}};
  for (const auto& v : views) {
    SCOPED_TRACE(v.view.front());
    std::vector<std::string> arguments = v.view;
    arguments.insert(arguments.end(), {"-f", "-i", "out.iso"});
    const ProgramRun listed = run_command("isoinfo", arguments, tree.path());
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::set<std::string> names;
    for (std::size_t from = 0, end; (end = listed.out.find('\n', from)) != std::string::npos;
         from = end + 1)
      names.insert(v.name_of(listed.out.substr(from, end - from)));
    names.erase(".rr_moved");
    EXPECT_EQ(names, v.expected);
  }
}

TEST(VolbuildExtensions, BootCatalogEntryAndBootInformationTable) {
  ScratchTree tree;
  tree.write_file("src/boot/loader.bin", 5000, 9);
  tree.write_file("src/BOOT.CAT", 10, 2);
  ASSERT_EQ(volbuild({"src/", "boot.iso", "/RECURSE", "/BOOT=boot/loader.bin", "/BOOTLOAD=8",
                      "/BOOTINFO", "/BATCH"},
                     tree.path())
                .status,
            0);
  const std::vector<uint8_t> image = read_file_bytes(tree / "boot.iso");
  const std::size_t record = 17 * 2048;
  // Boot record: type 0, "CD001", version 1, then the boot system
  // identifier firmware looks for, in ASCII.
  const std::vector<uint8_t> boot_system = {0x45, 0x4C, 0x20, 0x54, 0x4F, 0x52, 0x49, 0x54,
                                            0x4F, 0x20, 0x53, 0x50, 0x45, 0x43, 0x49, 0x46,
                                            0x49, 0x43, 0x41, 0x54, 0x49, 0x4F, 0x4E};
  ASSERT_EQ(std::string(image.begin() + record, image.begin() + record + 7),
            std::string("\0CD001\1", 7));
  ASSERT_EQ(std::vector<uint8_t>(image.begin() + record + 7, image.begin() + record + 30),
            boot_system);
  const std::size_t catalog = le32(image, record + 71) * std::size_t{2048};
  uint16_t sum = 0;
  for (std::size_t i = 0; i < 32; i += 2)
    sum = static_cast<uint16_t>(sum + image[catalog + i] + (image[catalog + i + 1] << 8));
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(image[catalog + 30], 0x55);
  EXPECT_EQ(image[catalog + 31], 0xAA);
  EXPECT_EQ(image[catalog + 32], 0x88);
  EXPECT_EQ(image[catalog + 33], 0);  // no emulation
  EXPECT_EQ(image[catalog + 38] | (image[catalog + 39] << 8), 8);
  const uint32_t extent = le32(image, catalog + 40);
  // The table: primary descriptor, the image's block and length, the sum
  // of the source file's words from offset 64.
  const std::vector<uint8_t> source = read_file_bytes(tree / "src/boot/loader.bin");
  uint32_t checksum = 0;
  std::vector<uint8_t> padded(source.begin() + 64, source.end());
  padded.resize((padded.size() + 3) / 4 * 4, 0);
  for (std::size_t i = 0; i < padded.size(); i += 4) checksum += le32(padded, i);
  const std::size_t boot = extent * std::size_t{2048};
  EXPECT_EQ(le32(image, boot + 8), 16u);
  EXPECT_EQ(le32(image, boot + 12), extent);
  EXPECT_EQ(le32(image, boot + 16), 5000u);
  EXPECT_EQ(le32(image, boot + 20), checksum);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + boot + 64, image.begin() + boot + 5000),
            std::vector<uint8_t>(source.begin() + 64, source.end()));
  // xorriso finds the catalog under its own name beside the tree's BOOT.CAT.
  const ProgramRun report =
      run_command("xorriso", {"-indev", "boot.iso", "-report_el_torito", "plain"}, tree.path());
  EXPECT_NE(report.out.find("El Torito cat path : /BOOT_1.CAT"), std::string::npos) << report.out;
  EXPECT_NE(report.out.find("BIOS  y   none  0x0000  0x00      8"), std::string::npos)
      << report.out;
  EXPECT_NE(report.out.find("El Torito img path :   1  /BOOT/LOADER.BIN"), std::string::npos)
      << report.out;
}

TEST(VolbuildExtensions, FaultsOfTheNewSwitchesAndLimitsStopBeforeTheImage) {
  const struct {
    std::string why;
    std::vector<std::string> switches;
    std::string err;
  } cases[] = {
      {"Joliet alone keeps the depth limit",
       {"/JOLIET"},
       "Error: Directory depth exceeds 8 levels!\n\"src/1/2/3/4/5/6/7/8/\"\n"},
      {"owners without Rock Ridge", {"/KEEPOWNERS"}, "Error: /KEEPOWNERS needs /ROCKRIDGE!\n"},
      {"a table without a boot image",
       {"/BOOTINFO"},
       "Error: /BOOTLOAD and /BOOTINFO need /BOOT=path!\n"},
      {"a load size without a boot image",
       {"/BOOTLOAD=4"},
       "Error: /BOOTLOAD and /BOOTINFO need /BOOT=path!\n"},
      {"an empty boot path", {"/BOOT="}, "Error: Illegal /BOOT format!\n"},
      {"a load size of 0",
       {"/BOOT=boot/a.bin", "/BOOTLOAD=0"},
       "Error: Illegal /BOOTLOAD format!\n"},
      {"a load size past 16 bits",
       {"/BOOT=boot/a.bin", "/BOOTLOAD=65536"},
       "Error: Illegal /BOOTLOAD format!\n"},
      {"no such boot image",
       {"/ROCKRIDGE", "/BOOT=boot/none.bin"},
       "Error: Boot image \"boot/none.bin\" is not a file of the volume!\n"},
      {"a folder for a boot image",
       {"/ROCKRIDGE", "/BOOT=boot"},
       "Error: Boot image \"boot\" is not a file of the volume!\n"},
      {"a link for a boot image",
       {"/ROCKRIDGE", "/BOOT=boot/link.bin"},
       "Error: Boot image \"boot/link.bin\" is not a file of the volume!\n"},
      {"a hidden boot image left out",
       {"/ROCKRIDGE", "/BOOT=boot/.hidden.bin"},
       "Error: Boot image \"boot/.hidden.bin\" is not a file of the volume!\n"},
      {"an empty boot image",
       {"/ROCKRIDGE", "/BOOT=boot/empty.bin"},
       "Error: Boot image \"boot/empty.bin\" is empty!\n"},
      {"a boot image too short for its table",
       {"/ROCKRIDGE", "/BOOT=boot/tiny.bin", "/BOOTINFO"},
       "Error: Boot image \"boot/tiny.bin\" is too small for a boot information table (64 bytes at "
       "least)!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchTree tree;
    tree.write_file("src/boot/a.bin", 3000);
    tree.write_file("src/boot/.hidden.bin", 3000);
    tree.write_file("src/boot/empty.bin", 0);
    tree.write_file("src/boot/tiny.bin", 63);
    ASSERT_EQ(symlink("a.bin", (tree / "src/boot/link.bin").c_str()), 0);
    tree.make_folder("src/1/2/3/4/5/6/7/8");
    std::vector<std::string> arguments = {"src/", "out.iso", "/RECURSE", "/BATCH"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun result = volbuild(arguments, tree.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_FALSE(file_exists(tree / "out.iso"));
  }
}

}  // namespace
