// The Linux SCSI generic backend: real drives through /dev/sg*. Each node's
// host, channel, target and LUN come from SG_GET_SCSI_ID (the host number is
// the host adapter number; only channel 0 is reachable as ha:id:lun);
// commands go out with the SG_IO ioctl, and what the kernel, the host adapter
// driver and the target report is mapped onto the request and host adapter
// status values the status translation knows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "scsi/transport.h"

// Per-command time limit: longer than any single command of a whole
// recording can take (closing a disc at single speed included).
constexpr unsigned SG_COMMAND_TIMEOUT_MS = 2u * 60u * 60u * 1000u;

// Host byte values of the Linux SCSI layer (host_status).
constexpr uint8_t SG_DID_OK = 0x00;
constexpr uint8_t SG_DID_NO_CONNECT = 0x01;
constexpr uint8_t SG_DID_BUS_BUSY = 0x02;
constexpr uint8_t SG_DID_TIME_OUT = 0x03;
constexpr uint8_t SG_DID_BAD_TARGET = 0x04;
constexpr uint8_t SG_DID_ABORT = 0x05;
constexpr uint8_t SG_DID_PARITY = 0x06;
constexpr uint8_t SG_DID_ERROR = 0x07;
constexpr uint8_t SG_DID_RESET = 0x08;
constexpr uint8_t SG_DID_TRANSPORT_DISRUPTED = 0x0E;
constexpr uint8_t SG_DID_TRANSPORT_FAILFAST = 0x0F;

// Driver byte values (driver_status, low nibble; 0x08 only says sense is valid).
constexpr uint16_t SG_DRIVER_OK = 0x00;
constexpr uint16_t SG_DRIVER_TIMEOUT = 0x06;
constexpr uint16_t SG_DRIVER_SENSE = 0x08;

// What one SG_IO call gave back.
struct SgIoOutcome {
  int ioctl_result = 0;      // the ioctl's return value
  int error_number = 0;      // errno when it failed
  uint8_t status = 0;        // SCSI status byte of the target
  uint16_t host_status = 0;  // DID_...
  uint16_t driver_status = 0;
  uint8_t sense_written = 0;  // sense bytes the kernel stored
  uint32_t requested = 0;     // dxfer_len: the bytes the request asked to move
  int32_t residual = 0;       // resid: the bytes of those that did not move
};

// The three status bytes of a request.
struct AspiStatus {
  uint8_t srb_status = SS_PENDING;
  uint8_t ha_status = HASTAT_OK;
  uint8_t target_status = STATUS_GOOD;
  uint32_t transferred = 0;  // bytes that moved
  bool operator==(const AspiStatus&) const = default;
};

// Maps an SG_IO outcome onto the request status bytes: a failed ioctl by its
// errno, then the host byte, the target status, the driver byte. A CHECK
// CONDITION without sense data becomes a failed sense request. The bytes
// moved are the requested ones less the residual count (a residual below 0
// or above the request is taken as 0 or all of it); none after a failed
// ioctl.
AspiStatus map_sg_io_result(const SgIoOutcome& outcome);

class SgTransport : public ScsiTransport {
 public:
  // `device_folder` is where the sg nodes live ("/dev"; tests use another).
  explicit SgTransport(std::string device_folder = "/dev");
  ~SgTransport() override;
  SgTransport(const SgTransport&) = delete;
  SgTransport& operator=(const SgTransport&) = delete;

  // Opens every sg node it may; nodes that cannot be opened or identified
  // are skipped (the reason is traced). False only when the folder cannot be
  // listed.
  bool open() override;
  uint8_t adapter_count() const override { return adapter_count_; }
  void execute(ScsiRequest& request) override;

  // Number of devices found.
  std::size_t device_count() const { return nodes_.size(); }

 private:
  void close_all();

  std::string folder_;
  std::map<std::tuple<uint8_t, uint8_t, uint8_t>, int> nodes_;  // ha:id:lun -> fd
  uint8_t adapter_count_ = 0;
};
