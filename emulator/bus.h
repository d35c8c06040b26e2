// The emulated SCSI bus: a transport whose devices are described by the
// environment variable EMULATED_SCSI_BUS, so that every tool runs, and is
// tested, without hardware. The value lists devices separated by ';':
//
//   ha:id:lun=PRODUCT[,key=value]...
//
// PRODUCT is the inquiry product identification without its padding (at most
// 16 characters). Items: vendor= (8 characters at most), revision= (4),
// type= inquiry device type byte (0, 4, 5, 8 or 0xFF; default 8 for
// "DISC TRANSPORTER", else 5), medium= (what the drive model loads), and the
// faults: fail=OP:K/ASC/ASCQ[*N] (the next N commands with operation code OP
// fail with that sense, all in hex; N defaults to 1), notready=N,
// attention=N and busy=N (the first N commands other than INQUIRY and
// REQUEST SENSE answer NOT READY, UNIT ATTENTION or BUSY), spinup=S (NOT
// READY, becoming ready, until S seconds of the emulated clock, which the
// programs' pauses move on, have passed), latency=MS (every command takes MS
// milliseconds of real time, as a slow drive does). Other items belong
// to the drive model; an item nobody knows is an error.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulator/device.h"
#include "scsi/transport.h"

// Parses an EMULATED_SCSI_BUS value. Throws EmulatedBusError naming the bad
// entry and what is wrong with it.
std::vector<EmulatedDeviceSpec> parse_emulated_bus(const std::string& value);

class EmulatedBus : public ScsiTransport {
 public:
  // Creates the devices and installs their drive models. Throws
  // EmulatedBusError when a model cannot load what it was given or an item
  // is left that no one knows.
  explicit EmulatedBus(const std::vector<EmulatedDeviceSpec>& specs);

  bool open() override { return true; }
  // One more than the highest host adapter number of a device, at least 1.
  uint8_t adapter_count() const override;
  void execute(ScsiRequest& request) override;
  // True for the files every device keeps its media in (see
  // EmulatedDevice::medium_files), followed through links.
  bool holds_medium_file(uint64_t device, uint64_t inode) const override;

  // The device at an address, or null.
  EmulatedDevice* device(uint8_t ha, uint8_t id, uint8_t lun) const;
  const std::vector<std::unique_ptr<EmulatedDevice>>& devices() const { return devices_; }

 private:
  std::vector<std::unique_ptr<EmulatedDevice>> devices_;
};

// Builds the bus of an EMULATED_SCSI_BUS value; a malformed value prints
// "\nError: Invalid EMULATED_SCSI_BUS value: ...\n" on standard error and
// throws ToolExit{1}, as does a disc that cannot be used, with its own
// sentence ("\nError: The disc PATH is in use by another program\n").
std::unique_ptr<EmulatedBus> make_emulated_bus(const std::string& value);
