#include "emulator/disc_transporter.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <tuple>

namespace {

constexpr uint8_t OP_EXCHANGE_MEDIUM = 0xA6;
constexpr unsigned DEFAULT_BLANKS = 10;

// Vendor bits of the control byte.
constexpr uint8_t VENDOR_EXCHANGE = 0;
constexpr uint8_t VENDOR_LOAD = 1;
constexpr uint8_t VENDOR_UNLOAD = 3;

struct Transporter {
  unsigned blanks = DEFAULT_BLANKS;
  bool recorder_given = false;
  unsigned ha = 0, id = 0, lun = 0;
};
using State = std::shared_ptr<Transporter>;

unsigned take_number(EmulatedDevice& device, const char* key, unsigned fallback) {
  const std::optional<std::string> item = device.take_item(key);
  if (!item) return fallback;
  char* end = nullptr;
  const long value = std::strtol(item->c_str(), &end, 10);
  if (end == item->c_str() || *end != '\0' || value < 0 || value > 9999)
    throw EmulatedBusError("bad item \"" + std::string(key) + "=" + *item + "\" (0 to 9999)");
  return static_cast<unsigned>(value);
}

// The tray of the recorder the transporter serves, or null.
EmulatedTray* served_tray(const Transporter& t, const EmulatedDevice& self) {
  EmulatedDevice* best = nullptr;
  for (EmulatedDevice* device : self.bus_devices()) {
    if (device->tray() == nullptr) continue;
    if (t.recorder_given) {
      if (device->host_adapter() == t.ha && device->target() == t.id && device->lun() == t.lun)
        return device->tray();
      continue;
    }
    const auto address = [](const EmulatedDevice* d) {
      return std::make_tuple(d->host_adapter(), d->target(), d->lun());
    };
    if (best == nullptr || address(device) < address(best)) best = device;
  }
  return best == nullptr ? nullptr : best->tray();
}

bool file_exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

const char* const KEPT_SUFFIXES[] = {".cue", ".bin", ".state"};

// Whether any file of a disc kept as `keep` exists.
bool kept_disc_exists(const std::string& keep) {
  for (const char* suffix : KEPT_SUFFIXES)
    if (file_exists(keep + suffix)) return true;
  return false;
}

// Where the output stack keeps its N-th disc.
std::string kept_disc(const EmulatedTray& tray, unsigned n) {
  return tray.disc_path() + "-" + std::to_string(n);
}

// Moves the disc in the tray to the output stack, keeping a recorded one
// under the first number that no file of a kept disc uses.
bool take_out(EmulatedTray& tray) {
  if (!tray.holds_disc()) return true;
  if (!tray.holds_recording()) return tray.take_disc("");
  for (unsigned n = 1;; ++n)
    if (!kept_disc_exists(kept_disc(tray, n))) return tray.take_disc(kept_disc(tray, n));
}

// The files of the discs on the output stack: PATH-N.* for every N from 1
// on until the first whose files are all missing.
std::vector<std::string> kept_files(const State& s, const EmulatedDevice& device) {
  std::vector<std::string> files;
  const EmulatedTray* tray = served_tray(*s, device);
  if (tray == nullptr) return files;
  for (unsigned n = 1; kept_disc_exists(kept_disc(*tray, n)); ++n)
    for (const char* suffix : KEPT_SUFFIXES) files.push_back(kept_disc(*tray, n) + suffix);
  return files;
}

EmulatedAnswer exchange_medium(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (c.cdb_length < 12) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
  const uint8_t vendor = c.cdb[11] >> 6;
  if (vendor != VENDOR_LOAD && vendor != VENDOR_EXCHANGE && vendor != VENDOR_UNLOAD)
    return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
  EmulatedTray* tray = served_tray(*s, device);
  if (tray == nullptr || !tray->open()) return EmulatedAnswer::check(SENSE_ELEMENT_NOT_ACCESSIBLE);
  if (vendor == VENDOR_LOAD && tray->holds_disc() && !tray->holds_recording())
    return EmulatedAnswer::good();
  if (vendor != VENDOR_UNLOAD && s->blanks == 0)
    return EmulatedAnswer::check(SENSE_SOURCE_ELEMENT_EMPTY);
  if (!take_out(*tray)) return EmulatedAnswer::check(SENSE_WRITE_ERROR);
  if (vendor != VENDOR_UNLOAD) {
    tray->put_blank();
    --s->blanks;
  }
  return EmulatedAnswer::good();
}

}  // namespace

bool disc_transporter_serves(const EmulatedDevice& device) {
  return device.identity().product == "DISC TRANSPORTER";
}

void install_disc_transporter(EmulatedDevice& device) {
  auto state = std::make_shared<Transporter>();
  state->blanks = take_number(device, "blanks", DEFAULT_BLANKS);
  if (const std::optional<std::string> item = device.take_item("recorder")) {
    int used = 0;
    if (std::sscanf(item->c_str(), "%u:%u:%u%n", &state->ha, &state->id, &state->lun, &used) != 3 ||
        static_cast<std::size_t>(used) != item->size() || state->ha > 15 || state->id > 7 ||
        state->lun > 7)
      throw EmulatedBusError("bad item \"recorder=" + *item + "\" (ha:id:lun)");
    state->recorder_given = true;
  }
  device.set_handler(OP_EXCHANGE_MEDIUM, bind_handler<exchange_medium>(state));
  device.add_medium_files([state, &device] { return kept_files(state, device); });
}
