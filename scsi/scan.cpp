#include "scsi/scan.h"

#include <cstring>
#include <vector>

#include "common/console.h"
#include "scsi/models.h"
#include "scsi/settings.h"
#include "scsi/trace.h"

namespace {

constexpr uint8_t TARGETS_PER_ADAPTER = 8;
constexpr uint8_t LUNS_PER_TARGET = 8;

std::vector<std::unique_ptr<ScsiDevice>>& device_list() {
  static std::vector<std::unique_ptr<ScsiDevice>> list;
  return list;
}

// Readers, recorders and transporters the scan found but could not keep.
std::size_t& ignored_count() {
  static std::size_t count = 0;
  return count;
}

std::size_t usable_count() {
  std::size_t count = 0;
  for (const std::unique_ptr<ScsiDevice>& device : device_list())
    if (device->device_kind != DEVICE_DISK) ++count;
  return count;
}

DriverFactory& driver_factory() {
  static DriverFactory factory = nullptr;
  return factory;
}

UnknownDriveProbe& unknown_drive_probe() {
  static UnknownDriveProbe probe = nullptr;
  return probe;
}

bool is_reader_code(uint8_t model_code) { return model_code == 4 || model_code == 5; }

// Creates and lists the device at an address from its inquiry data.
void add_device(const uint8_t* inquiry, uint8_t ha, uint8_t id, uint8_t lun) {
  uint8_t kind = 0, model_code = 0;
  if (!classify_device(inquiry, &kind, &model_code)) return;
  std::vector<std::unique_ptr<ScsiDevice>>& list = device_list();
  if (kind != DEVICE_DISK && usable_count() >= MAX_SCSI_DEVICES) {
    trace_scsi_note(format_text("device list full, ignoring %u:%u:%u", ha, id, lun));
    ++ignored_count();
    return;
  }
  std::unique_ptr<ScsiDevice> device =
      driver_factory() ? driver_factory()(model_code) : std::make_unique<ScsiDevice>();
  std::memcpy(device->vendor, inquiry + 8, sizeof device->vendor);
  std::memcpy(device->product, inquiry + 16, sizeof device->product);
  std::memcpy(device->revision, inquiry + 32, sizeof device->revision);
  device->host_adapter = ha;
  device->target = id;
  device->lun = lun;
  device->device_kind = kind;
  device->model_code = model_code;
  if (model_code == MODEL_UNKNOWN_CDROM && unknown_drive_probe() != nullptr &&
      !scsi_settings().mmc_disabled) {
    if (std::unique_ptr<ScsiDevice> known = unknown_drive_probe()(*device))
      device = std::move(known);
  }
  list.push_back(std::move(device));
}

}  // namespace

void set_driver_factory(DriverFactory factory) { driver_factory() = factory; }

void set_unknown_drive_probe(UnknownDriveProbe probe) { unknown_drive_probe() = probe; }

bool classify_device(const uint8_t* inquiry, uint8_t* kind, uint8_t* model_code) {
  char product[17] = {};
  std::memcpy(product, inquiry + 16, 16);
  const ModelEntry* row = nullptr;
  switch (inquiry[0]) {
    case 0x00:
      *kind = DEVICE_DISK;
      *model_code = MODEL_DISK;
      return true;
    case 0x04:
    case 0x05:
    case 0xFF:
      if ((row = lookup_model(recorder_models, product)) != nullptr) {
        *kind = DEVICE_RECORDER;
      } else if ((row = lookup_model(reader_models, product)) != nullptr) {
        *kind = DEVICE_READER;
      } else if (inquiry[0] != 0xFF) {
        *kind = DEVICE_READER;
        *model_code = MODEL_UNKNOWN_CDROM;
        return true;
      } else {
        return false;
      }
      break;
    case 0x08:
      if ((row = lookup_model(transporter_models, product)) == nullptr) return false;
      *kind = DEVICE_TRANSPORTER;
      break;
    default: return false;
  }
  *model_code = row->model_code;
  if (is_reader_code(*model_code)) *kind = DEVICE_READER;
  return true;
}

unsigned scan_scsi_bus() {
  const unsigned adapters = aspi_adapter_count();
  const uint8_t luns = scsi_settings().lun_enabled ? LUNS_PER_TARGET : 1;
  for (unsigned ha = 0; ha < adapters; ++ha) {
    for (uint8_t id = 0; id < TARGETS_PER_ADAPTER; ++id) {
      for (uint8_t lun = 0; lun < luns; ++lun) {
        uint8_t inquiry[INQUIRY_LENGTH] = {};
        if (ScsiDevice::Inquiry(static_cast<uint8_t>(ha), id, lun, inquiry, nullptr, false) == 1)
          add_device(inquiry, static_cast<uint8_t>(ha), id, lun);
      }
    }
  }
  return adapters;
}

ScsiDevice* find_device(uint16_t kind_mask, uint8_t ha, uint8_t id, uint8_t lun) {
  for (const std::unique_ptr<ScsiDevice>& device : device_list()) {
    if (device->device_kind >= 16 || !(kind_mask & (1u << device->device_kind))) continue;
    if (ha != ANY_ADDRESS &&
        (device->host_adapter != ha || device->target != id || device->lun != lun))
      continue;
    return device.get();
  }
  return nullptr;
}

void release_devices() {
  device_list().clear();
  ignored_count() = 0;
}

std::size_t ignored_device_count() { return ignored_count(); }

std::string device_list_full_note() {
  if (ignored_count() == 0) return "";
  return format_text("The device list holds %zu devices; %zu more found on the bus were ignored.\n",
                     MAX_SCSI_DEVICES, ignored_count());
}

std::size_t device_count() { return device_list().size(); }

ScsiDevice* device_at(std::size_t index) {
  return index < device_list().size() ? device_list()[index].get() : nullptr;
}
