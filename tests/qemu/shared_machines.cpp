#include "qemu/shared_machines.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <map>
#include <memory>
#include <vector>

namespace {

struct Registered {
  std::string key;
  std::string test;
  int turn;
  RequestMaker make;
};

std::vector<Registered>& registry() {
  static std::vector<Registered> registered;
  return registered;
}

// True when the test named `test` runs in this process.
bool selected(const std::string& test) {
  const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
  for (int s = 0; s < unit.total_test_suite_count(); ++s) {
    const testing::TestSuite& suite = *unit.GetTestSuite(s);
    for (int t = 0; t < suite.total_test_count(); ++t) {
      const testing::TestInfo& info = *suite.GetTestInfo(t);
      if (info.should_run() && std::string(suite.name()) + "." + info.name() == test) return true;
    }
  }
  return false;
}

std::unique_ptr<SharedVolume> make_volume() {
  auto volume = std::make_unique<SharedVolume>();
  const ScratchTree& tree = volume->tree;
  tree.write_text("src/README.TXT", "A volume for the drive in the virtual machine.\n");
  tree.write_file("src/DATA/BLOCKS.BIN", 300000, 7);
  tree.write_file("src/My Holiday Photos 2026.jpg", 3000, 1);
  tree.write_file(
      "src/\xc3\x9cn\xc3\xaf"
      "code \xc3\xb1"
      "ame.txt",
      77, 2);
  tree.write_file("src/sub/run.sh", 5000, 3);
  tree.write_file("src/a/b/c/d/e/f/g/h/i/j/deep file.txt", 2049, 4);
  const bool made =
      chmod((tree / "src/sub/run.sh").c_str(), 0750) == 0 &&
      symlink("../My Holiday Photos 2026.jpg", (tree / "src/sub/link").c_str()) == 0 &&
      run_command("chmod", {"-R", "go-w", tree / "src"}).status == 0;
  const ProgramRun built = run_program("volbuild",
                                       {"src/", "disc.iso", "/RECURSE", "/JOLIET", "/ROCKRIDGE",
                                        "/KEEPOWNERS", "/VOLUME=QEMU_TEST", "/BATCH"},
                                       tree.path());
  volume->image = tree / "disc.iso";
  volume->bytes = read_file(volume->image);
  if (!made || built.status != 0 || volume->bytes.empty() || volume->bytes.size() % 2048 != 0)
    volume->failure = "volbuild could not make the volume: " + built.err;
  return volume;
}

// Every request of a test that runs, each machine's in its order.
std::map<std::string, VmOutcome> run_registered() {
  std::vector<const Registered*> order;
  for (const Registered& registered : registry())
    if (selected(registered.test)) order.push_back(&registered);
  std::stable_sort(order.begin(), order.end(),
                   [](const Registered* a, const Registered* b) { return a->turn < b->turn; });
  std::map<std::string, VmOutcome> outcomes;
  if (order.empty()) return outcomes;
  const SharedVolume& volume = shared_volume();
  struct Machine {
    std::vector<std::string> keys;
    std::vector<VmRequest> requests;
  };
  std::vector<Machine> machines;
  for (const Registered* registered : order) {
    VmRequest request = registered->make(volume);
    if (request.medium == DriveMedium::VOLUME && !volume.failure.empty()) {
      outcomes[registered->key].failure = volume.failure;
      continue;
    }
    auto machine = std::find_if(machines.begin(), machines.end(), [&](const Machine& m) {
      return m.requests.front().medium == request.medium &&
             m.requests.front().image == request.image;
    });
    if (machine == machines.end()) machine = machines.insert(machines.end(), Machine{});
    machine->keys.push_back(registered->key);
    machine->requests.push_back(std::move(request));
  }
  std::vector<std::future<std::vector<VmOutcome>>> runs;
  for (const Machine& machine : machines)
    runs.push_back(std::async(std::launch::async,
                              [&requests = machine.requests] { return run_all_in_vm(requests); }));
  for (std::size_t m = 0; m < machines.size(); ++m) {
    const std::vector<VmOutcome> machine_outcomes = runs[m].get();
    for (std::size_t i = 0; i < machine_outcomes.size(); ++i)
      outcomes[machines[m].keys[i]] = machine_outcomes[i];
  }
  return outcomes;
}

}  // namespace

const SharedVolume& shared_volume() {
  // Kept to the end of the process, which removes its tree.
  static const std::unique_ptr<SharedVolume> volume = make_volume();
  return *volume;
}

VmRequest on_shared_volume(const std::string& program, const SharedVolume& volume) {
  VmRequest request;
  request.program = program;
  request.medium = DriveMedium::VOLUME;
  request.image = volume.image;
  return request;
}

bool share_machine(const std::string& key, const std::string& test, int turn, RequestMaker make) {
  registry().push_back({key, test, turn, std::move(make)});
  return true;
}

const VmOutcome& shared_outcome(const std::string& key) {
  static const std::map<std::string, VmOutcome> outcomes = run_registered();
  static const VmOutcome missing = [] {
    VmOutcome outcome;
    outcome.failure = "no request of a test that runs has this key";
    return outcome;
  }();
  const auto found = outcomes.find(key);
  return found == outcomes.end() ? missing : found->second;
}
