// The bus scan: every address gets an INQUIRY, every known device one driver
// object, kept in the device list in scan order (lowest host adapter, then
// target, then LUN first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "scsi/device.h"

// The device list holds at most this many readers, recorders and
// transporters (disks, which no program uses, do not count); the scan
// ignores further ones, with a note under TRACE_SCSI_ENABLED, and counts
// them (ignored_device_count).
constexpr std::size_t MAX_SCSI_DEVICES = 64;

// An address of 255:255:255 asks find_device for any address.
constexpr uint8_t ANY_ADDRESS = 255;

// Creates the driver object for a model code: the drivers' table of reader,
// recorder and transporter classes. The program sets it at start-up (scsi/
// knows no driver); until then every device is a plain ScsiDevice. A factory
// never returns null.
using DriverFactory = std::unique_ptr<ScsiDevice> (*)(uint8_t model_code);
void set_driver_factory(DriverFactory factory);

// Looks again at a CD drive that the model tables do not know (model code
// MODEL_UNKNOWN_CDROM, device type 4 or 5), asking the drive itself: returns
// the driver object that serves it, with identity, address, kind and model
// code set, or null to keep the generic reader. Not called while
// MMC_DISABLED is set. The program sets it at start-up with the factory.
using UnknownDriveProbe = std::unique_ptr<ScsiDevice> (*)(const ScsiDevice& device);
void set_unknown_drive_probe(UnknownDriveProbe probe);

// The kind and model code that the inquiry data of a device give it; false
// when the library ignores the device. `inquiry` holds at least 32 bytes.
bool classify_device(const uint8_t* inquiry, uint8_t* kind, uint8_t* model_code);

// Probes every address of every host adapter (LUNs 1-7 only with
// LUN_ENABLED) and fills the device list. Returns the adapter count scanned.
unsigned scan_scsi_bus();

// The first device in scan order whose kind bit is set in kind_mask and,
// unless ha is ANY_ADDRESS, whose address is ha:id:lun; null when none is.
ScsiDevice* find_device(uint16_t kind_mask, uint8_t ha, uint8_t id, uint8_t lun);

// Deletes every device of the list and forgets the ignored ones.
void release_devices();

// Deletes every device of the list when it goes out of scope: a program's
// flow holds one from the scan on, so that its devices are released on every
// path, an error included.
class DeviceListRelease {
 public:
  DeviceListRelease() = default;
  ~DeviceListRelease() { release_devices(); }
  DeviceListRelease(const DeviceListRelease&) = delete;
  DeviceListRelease& operator=(const DeviceListRelease&) = delete;
};

// Readers, recorders and transporters the scan ignored because the list was
// full.
std::size_t ignored_device_count();

// "" when the scan kept every device; else "The device list holds 64
// devices; N more found on the bus were ignored.\n", for a program to print
// after its message that the device it wants is missing.
std::string device_list_full_note();

// The devices of the list in scan order.
std::size_t device_count();
ScsiDevice* device_at(std::size_t index);
