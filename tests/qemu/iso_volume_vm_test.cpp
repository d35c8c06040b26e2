// volbuild's volumes read by readers that no one here wrote: the Linux
// kernel's iso9660 driver in the test machine (Rock Ridge, Joliet and level 1
// views of one volume), and a PC's firmware booting them (QEMU's BIOS runs
// a boot image of the volume: a tiny one assembled here, and ISOLINUX).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "qemu/shared_machines.h"
#include "support/scratch_tree.h"

namespace {

// Lists the tree below the current folder, one line a path: links with
// their target, folders with their mode and link count (two and one for
// each folder inside), files with their mode and MD5.
// With "bare", files only, by MD5 (names and modes differ between views).
const char kListing[] = R"sh(list() {
  find . ! -name . | grep -v '^\./\.rr_moved' | sort | while read -r p; do
    if [ -L "$p" ]; then [ "$1" = bare ] || echo "$p link $(readlink "$p")"
    elif [ -d "$p" ]; then [ "$1" = bare ] || echo "$p dir $(stat -c '%a %h' "$p")"
    elif [ "$1" = bare ]; then md5sum < "$p" | cut -d' ' -f1
    else echo "$p file $(stat -c %a "$p") $(md5sum < "$p" | cut -d' ' -f1)"; fi
  done | { [ "$1" = bare ] && grep -v d41d8cd98f00b204e9800998ecf8427e | sort || cat; }
}
)sh";

std::string run_shell(const std::string& script, const std::string& folder) {
  const ProgramRun run = run_command("sh", {"-c", script}, folder);
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

// Rock Ridge names, modes and links; Joliet names; level 1 contents: the
// script lists the volume of the shared machine in each view, after the
// programs of the other tests.
const bool views_registered = share_machine(
    "views", "VmIsoVolume.KernelSeesRockRidgeJolietAndLevel1Views", 1,
    [](const SharedVolume& volume) {
      volume.tree.write_text(
          "views.sh", std::string("#!/bin/sh\n") + kListing +
                          "mkdir -p /mnt\n"
                          "for view in ro ro,norock ro,norock,nojoliet; do\n"
                          "  mount -t iso9660 -o $view /dev/sr0 /mnt || exit 1\n"
                          "  echo \"== $view\"\n"
                          "  cd /mnt\n"
                          "  case $view in ro) list ;; ro,norock) list | grep ' file ' | grep -v "
                          "d41d8cd98f00b204e9800998ecf8427e | sed 's/ file [0-7]* / /' ;; *) list "
                          "bare ;; esac\n"
                          "  cd /\n"
                          "  umount /mnt\n"
                          "done\n");
      chmod((volume.tree / "views.sh").c_str(), 0755);
      return on_shared_volume(volume.tree / "views.sh", volume);
    });

TEST(VmIsoVolume, KernelSeesRockRidgeJolietAndLevel1Views) {
  const SharedVolume& volume = shared_volume();
  ASSERT_EQ(volume.failure, "");
  const std::string source = volume.tree / "src";
  const VmOutcome& outcome = shared_outcome("views");
  if (!outcome.skip_reason.empty()) GTEST_SKIP() << outcome.skip_reason;
  ASSERT_EQ(outcome.failure, "");
  ASSERT_EQ(outcome.run.status, 0) << outcome.run.err;
  const std::string list = std::string(kListing);
  const std::string expected =
      "== ro\n" + run_shell(list + "list", source) + "== ro,norock\n" +
      run_shell(list +
                    "list | grep ' file ' | grep -v d41d8cd98f00b204e9800998ecf8427e | sed 's/ "
                    "file [0-7]* / /'",
                source) +
      "== ro,norock,nojoliet\n";
  const std::size_t level1 = outcome.run.out.find("== ro,norock,nojoliet\n");
  ASSERT_NE(level1, std::string::npos) << outcome.run.out;
  EXPECT_EQ(outcome.run.out.substr(0, level1) + "== ro,norock,nojoliet\n", expected);
  // Level 1 readers see every file's contents (and the child links of
  // relocated directories as files of their own).
  const std::string contents = run_shell(list + "list bare", source);
  for (std::size_t at = 0; at < contents.size(); at += 33)
    EXPECT_NE(outcome.run.out.find(contents.substr(at, 32), level1), std::string::npos)
        << contents.substr(at, 32);
}

// Runs QEMU's PC on `image` as its boot CD until the first serial port
// shows `line` or 120 s pass; what the port showed.
std::string boot_serial(const ScratchTree& tree, const std::string& image,
                        const std::string& line) {
  const std::string script =
      "qemu-system-x86_64 -display none -accel tcg -m 64 -no-reboot "
      "-cdrom \"$1\" -boot d -serial file:serial.txt </dev/null >/dev/null 2>&1 & q=$!; "
      "i=0; until grep -q \"$2\" serial.txt 2>/dev/null || [ $i -gt 1200 ]; do sleep 0.1; "
      "i=$((i+1)); done; "
      "kill $q; wait $q; cat serial.txt";
  return run_command("sh", {"-c", script, "sh", image, line}, tree.path(), "", 180).out;
}

TEST(VmIsoVolume, BootImagesOfTheVolumeRun) {
  if (access("/usr/bin/qemu-system-x86_64", X_OK) != 0)
    GTEST_SKIP() << "qemu-system-x86 is not installed";
  ScratchTree tree;
  // A no-emulation boot image that writes one line on COM1 and halts.
  tree.write_text(
      "loader.S",
      ".code16\n_start: cli\n call 1f\n1: pop %si\n add $(msg - 1b), %si\n push %cs\n pop %ds\n"
      " mov $0x3f8, %dx\n2: lodsb\n test %al, %al\n jz 3f\n out %al, %dx\n jmp 2b\n"
      "3: hlt\n jmp 3b\nmsg: .asciz \"BOOTED FROM THE VOLUME\\r\\n\"\n");
  tree.make_folder("tiny/boot");
  ASSERT_EQ(run_shell("as --32 -o loader.o loader.S && ld -m elf_i386 -Ttext 0 --oformat binary -o "
                      "tiny/boot/loader.bin loader.o && echo ok",
                      tree.path()),
            "ok\n");
  // ISOLINUX, its library and a configuration that names a kernel it will
  // not find: reading it proves the loader found its files on the volume.
  ASSERT_TRUE(file_exists("/usr/lib/ISOLINUX/isolinux.bin"))
      << "the package isolinux is not installed";
  tree.make_folder("syslinux/isolinux");
  for (const char* file :
       {"/usr/lib/ISOLINUX/isolinux.bin", "/usr/lib/syslinux/modules/bios/ldlinux.c32"})
    std::filesystem::copy(file, tree / "syslinux/isolinux/");
  tree.write_text("syslinux/isolinux/isolinux.cfg", "SERIAL 0 115200\nPROMPT 0\nDEFAULT nothing\n");
  const struct {
    std::vector<std::string> arguments;
    std::string line;
  } cases[] = {
      {{"tiny/", "tiny.iso", "/RECURSE", "/BOOT=boot/loader.bin", "/BOOTLOAD=1"},
       "BOOTED FROM THE VOLUME"},
      {{"syslinux/", "isolinux.iso", "/RECURSE", "/JOLIET", "/ROCKRIDGE",
        "/BOOT=isolinux/isolinux.bin", "/BOOTINFO"},
       "Loading nothing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[1]);
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("/BATCH");
    const ProgramRun built = run_program("volbuild", arguments, tree.path());
    ASSERT_EQ(built.status, 0) << built.err;
    const std::string serial = boot_serial(tree, c.arguments[1], c.line);
    EXPECT_NE(serial.find(c.line), std::string::npos) << serial;
  }
}

}  // namespace
