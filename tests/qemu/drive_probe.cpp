// Sends a CD-ROM drive the commands the generic reader uses, one after the
// other, and prints what each one answered: the result code, the sense key
// with ASC/ASCQ after CHECK CONDITION, and the data that came back. Run
// against the same disc on two drive models (a drive in a virtual machine
// and the emulated bus), the two reports show where the models differ.
//
//   drive_probe [ha:id:lun]        (default 0:3:0)
//
// Stops with status 1 when nothing answers INQUIRY at the address. Each step
// prints "== NAME", then "result R[ sense K/AA/QQ]", after a failure "sense"
// and the 18 sense bytes, and when data came in, "data N:" and the first N
// bytes in hex, 16 a line, where N ends at the last byte that is neither zero
// nor the marker the buffer was filled with (the kernel's driver may zero the
// part the drive did not send).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/console.h"
#include "scsi/device.h"
#include "scsi/settings.h"
#include "tools/shared/drive_setup.h"

namespace {

constexpr uint8_t MARKER = 0xA5;

struct Step {
  const char* name;
  std::vector<uint8_t> cdb;
  uint8_t direction;
  uint32_t length;
  std::vector<uint8_t> data_out;  // for SRB_DIR_OUT
  bool at_last_lba = false;       // bytes 2-5 become READ CAPACITY's last LBA
};

std::vector<uint8_t> block_descriptor(uint32_t block_length) {
  // MODE SELECT(6) parameter list: header with an 8-byte block descriptor.
  return {0,
          0,
          0,
          8,
          0,
          0,
          0,
          0,
          0,
          static_cast<uint8_t>(block_length >> 16),
          static_cast<uint8_t>(block_length >> 8),
          static_cast<uint8_t>(block_length)};
}

void print_data(const std::vector<uint8_t>& data) {
  std::size_t used = data.size();
  while (used > 0 && (data[used - 1] == MARKER || data[used - 1] == 0)) --used;
  std::printf("data %zu:", used);
  for (std::size_t i = 0; i < used; ++i) std::printf(i % 16 == 0 ? "\n  %02X" : " %02X", data[i]);
  std::printf("\n");
}

// Runs one step; returns the data that came in.
std::vector<uint8_t> run_step(ScsiDevice& device, Step step, uint32_t last_lba) {
  std::printf("== %s\n", step.name);
  if (step.at_last_lba) {
    const uint32_t lba = last_lba + step.cdb[5];
    step.cdb[2] = static_cast<uint8_t>(lba >> 24);
    step.cdb[3] = static_cast<uint8_t>(lba >> 16);
    step.cdb[4] = static_cast<uint8_t>(lba >> 8);
    step.cdb[5] = static_cast<uint8_t>(lba);
  }
  std::vector<uint8_t> buffer(step.length, MARKER);
  if (step.direction == SRB_DIR_OUT)
    std::copy(step.data_out.begin(), step.data_out.end(), buffer.begin());
  uint32_t moved = 0;  // a drive may answer with less than the allocation length
  const ResultCode result = device.Execute(
      SC_EXEC_SCSI_CMD, step.direction, step.cdb.data(), static_cast<uint8_t>(step.cdb.size()),
      buffer.empty() ? nullptr : buffer.data(), step.length, &moved);
  std::printf("result %d", result);
  if (result != 1 && result != 0)
    std::printf(" sense %X/%02X/%02X", device.last_sense[2] & SENSE_KEY_MASK, device.last_sense[12],
                device.last_sense[13]);
  std::printf("\n");
  if (result != 1 && result != 0) {
    std::printf("sense");
    for (uint8_t byte : device.last_sense) std::printf(" %02X", byte);
    std::printf("\n");
  }
  if (step.direction == SRB_DIR_IN && result == 1) print_data(buffer);
  if (result != 1) buffer.clear();
  return buffer;
}

std::vector<Step> probe_steps() {
  const uint8_t in = SRB_DIR_IN;
  const uint8_t none = SRB_DIR_NONE;
  const uint8_t out = SRB_DIR_OUT;
  return {
      {"INQUIRY", {0x12, 0, 0, 0, 104, 0}, in, 104, {}},
      {"TEST UNIT READY", {0x00, 0, 0, 0, 0, 0}, none, 0, {}},
      {"TEST UNIT READY again", {0x00, 0, 0, 0, 0, 0}, none, 0, {}},
      {"REQUEST SENSE", {0x03, 0, 0, 0, 18, 0}, in, 18, {}},
      {"READ CAPACITY", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, in, 8, {}},
      {"READ TOC format 0 LBA", {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, in, 804, {}},
      {"READ TOC format 0 MSF", {0x43, 0x02, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, in, 804, {}},
      {"READ TOC format 1 (sessions)", {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0x40}, in, 12, {}},
      {"READ TOC track AA", {0x43, 0, 0, 0, 0, 0, 0xAA, 0x03, 0x24, 0}, in, 804, {}},
      {"READ TOC track 2", {0x43, 0, 0, 0, 0, 0, 2, 0x03, 0x24, 0}, in, 804, {}},
      {"READ TOC byte 2 format 1", {0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0}, in, 12, {}},
      {"READ TOC byte 2 format 2 MSF", {0x43, 0x02, 2, 0, 0, 0, 1, 0x03, 0x24, 0}, in, 804, {}},
      {"READ TOC allocation 4", {0x43, 0, 0, 0, 0, 0, 0, 0, 4, 0}, in, 4, {}},
      {"READ SUB-CHANNEL format 1", {0x42, 0, 0x40, 1, 0, 0, 0, 0, 48, 0}, in, 48, {}},
      {"READ SUB-CHANNEL format 2 (MCN)", {0x42, 0, 0x40, 2, 0, 0, 0, 0, 48, 0}, in, 48, {}},
      {"READ SUB-CHANNEL format 3 track 1 (ISRC)",
       {0x42, 0, 0x40, 3, 0, 0, 1, 0, 48, 0},
       in,
       48,
       {}},
      {"MODE SENSE page 01", {0x1A, 0, 0x01, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 01 DBD", {0x1A, 0x08, 0x01, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 0D", {0x1A, 0, 0x0D, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 0E", {0x1A, 0, 0x0E, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 2A", {0x1A, 0, 0x2A, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 31", {0x1A, 0, 0x31, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 3F", {0x1A, 0, 0x3F, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 3F changeable", {0x1A, 0, 0x7F, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE page 3F default", {0x1A, 0, 0xBF, 0, 212, 0}, in, 212, {}},
      {"MODE SENSE(10) page 3F", {0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 212, 0}, in, 212, {}},
      {"READ(10) LBA 16 at 2048", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, in, 2048, {}},
      {"READ(10) LBA 0 2 blocks", {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, in, 4096, {}},
      {"READ(10) at last LBA", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, in, 2048, {}, true},
      {"READ(10) after last LBA", {0x28, 0, 0, 0, 0, 1, 0, 0, 1, 0}, in, 2048, {}, true},
      {"READ(10) no blocks", {0x28, 0, 0, 0, 0, 16, 0, 0, 0, 0}, in, 0, {}},
      {"READ(10) past the end", {0x28, 0, 0, 0x10, 0, 0, 0, 0, 1, 0}, in, 2048, {}},
      {"MODE SELECT block length 2340", {0x15, 0, 0, 0, 12, 0}, out, 12, block_descriptor(2340)},
      {"MODE SENSE page 01 after 2340", {0x1A, 0, 0x01, 0, 212, 0}, in, 212, {}},
      {"READ(10) LBA 16 at 2340", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, in, 2340, {}},
      {"MODE SELECT block length 2352", {0x15, 0, 0, 0, 12, 0}, out, 12, block_descriptor(2352)},
      {"READ(10) LBA 16 at 2352", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, in, 2352, {}},
      {"MODE SELECT block length 2048", {0x15, 0, 0, 0, 12, 0}, out, 12, block_descriptor(2048)},
      {"MODE SELECT PF block length 2340",
       {0x15, 0x10, 0, 0, 12, 0},
       out,
       12,
       block_descriptor(2340)},
      {"MODE SENSE page 01 after PF 2340", {0x1A, 0, 0x01, 0, 212, 0}, in, 212, {}},
      {"READ(10) LBA 16 at 2340 after PF", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, in, 2340, {}},
      {"MODE SELECT PF block length 2048",
       {0x15, 0x10, 0, 0, 12, 0},
       out,
       12,
       block_descriptor(2048)},
      {"MODE SELECT PF block length 512",
       {0x15, 0x10, 0, 0, 12, 0},
       out,
       12,
       block_descriptor(512)},
      {"READ CAPACITY after 512", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, in, 8, {}},
      {"MODE SELECT PF block length 2048 back",
       {0x15, 0x10, 0, 0, 12, 0},
       out,
       12,
       block_descriptor(2048)},
      {"READ(10) LBA 16 at 2048 again", {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0}, in, 2048, {}},
      {"READ CD-DA LBA 16 format 0", {0xD8, 0, 0, 0, 0, 16, 0, 0, 0, 1, 0, 0}, in, 2352, {}},
      {"READ CD-DA LBA 16 format 1", {0xD8, 0, 0, 0, 0, 16, 0, 0, 0, 1, 1, 0}, in, 2368, {}},
      {"READ CD LBA 16 user data", {0xBE, 0, 0, 0, 0, 16, 0, 0, 1, 0x10, 0, 0}, in, 2048, {}},
      {"READ CD LBA 16 whole sector", {0xBE, 0, 0, 0, 0, 16, 0, 0, 1, 0xF8, 0, 0}, in, 2352, {}},
      {"READ CD LBA 16 CD-DA type", {0xBE, 0x04, 0, 0, 0, 16, 0, 0, 1, 0x10, 0, 0}, in, 2352, {}},
      {"READ CD LBA 16 Q sub-channel", {0xBE, 0, 0, 0, 0, 16, 0, 0, 1, 0x10, 2, 0}, in, 2064, {}},
      {"SET CD SPEED", {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, none, 0, {}},
      {"PREVENT ALLOW MEDIUM REMOVAL allow", {0x1E, 0, 0, 0, 0, 0}, none, 0, {}},
      {"START/STOP UNIT eject", {0x1B, 0, 0, 0, 0x02, 0}, none, 0, {}},
      {"TEST UNIT READY after eject", {0x00, 0, 0, 0, 0, 0}, none, 0, {}},
      {"READ TOC after eject", {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, in, 804, {}},
      {"READ CAPACITY after eject", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, in, 8, {}},
      {"START/STOP UNIT load", {0x1B, 0, 0, 0, 0x03, 0}, none, 0, {}},
      {"TEST UNIT READY after load", {0x00, 0, 0, 0, 0, 0}, none, 0, {}},
      {"TEST UNIT READY after load again", {0x00, 0, 0, 0, 0, 0}, none, 0, {}},
      {"START/STOP UNIT stop", {0x1B, 0, 0, 0, 0x00, 0}, none, 0, {}},
      {"TEST UNIT READY after stop", {0x00, 0, 0, 0, 0, 0}, none, 0, {}},
      {"unknown operation code 0xFF", {0xFF, 0, 0, 0, 0, 0}, none, 0, {}},
  };
}

}  // namespace

int main(int argc, char** argv) {
  return run_tool([&] {
    install_drive_setup();
    load_scsi_settings();
    unsigned ha = 0, id = 3, lun = 0;
    if (argc > 1 && std::sscanf(argv[1], "%u:%u:%u", &ha, &id, &lun) != 3)
      fail_with("usage: drive_probe [ha:id:lun]\n");
    if (aspi_open(false) != 1) fail_with("no transport\n");
    ScsiDevice device(static_cast<uint8_t>(ha), static_cast<uint8_t>(id),
                      static_cast<uint8_t>(lun));
    uint8_t inquiry[INQUIRY_LENGTH] = {};
    if (ScsiDevice::InquiryRaw(device.host_adapter, device.target, device.lun, inquiry, nullptr) !=
        1)
      fail_with(format_text("drive_probe: no drive at %u:%u:%u\n", ha, id, lun));
    uint32_t last_lba = 0;
    for (const Step& step : probe_steps()) {
      const std::vector<uint8_t> data = run_step(device, step, last_lba);
      if (step.cdb[0] == 0x25 && data.size() >= 4)
        last_lba = static_cast<uint32_t>(data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3]);
    }
    std::fflush(stdout);
    return 0;
  });
}
