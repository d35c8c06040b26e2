// Sends random command blocks, with random parameter data, in random order to
// one emulated drive of every model (readers with a pressed disc, recorders
// with a disc of their own, the drives of the multimedia command set and the
// disc transporter), through the emulated bus as a program's requests go. A
// request may end in any status; the bus must never move more bytes than the
// buffer holds, nor give CHECK CONDITION without fixed-format sense data,
// nor crash or hang. The input is a series of records:
//
//   device, length, direction, buffer length (2 bytes), the command block
//   (6 to 16 bytes), the data out (up to the buffer length)
//
// and a device byte of 0xFF moves the emulated clock on instead.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/bus.h"
#include "emulator/clock.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t MOST_RECORDS = 64;

// A pressed disc of a data track and an audio track, made once.
std::string pressed_disc(const fs::path& folder) {
  std::ofstream image(folder / "disc.bin", std::ios::binary);
  std::vector<char> sector(2352);
  for (unsigned lba = 0; lba < 450; ++lba) {
    for (std::size_t i = 0; i < sector.size(); ++i)
      sector[i] = static_cast<char>((lba * 7 + i) & 0xFF);
    image.write(sector.data(), lba < 300 ? 2048 : 2352);
  }
  std::ofstream sheet(folder / "disc.cue");
  sheet << "CATALOG 0123456789012\nFILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2048\n"
           "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    ISRC USABC9600001\n"
           "    INDEX 00 00:04:00\n    INDEX 01 00:06:00\n";
  return (folder / "disc.cue").string();
}

// The folder of the run's discs, taken away when the fuzzer ends.
struct Workplace {
  fs::path folder;
  std::string disc;
  fs::path recorders;
  ~Workplace() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

const Workplace& workplace() {
  static const Workplace place = [] {
    Workplace made;
    made.folder =
        fs::temp_directory_path() / ("fuzz_emulated_commands." + std::to_string(getpid()));
    fs::create_directories(made.folder);
    made.disc = pressed_disc(made.folder);
    made.recorders = made.folder / "discs";
    return made;
  }();
  return place;
}

std::string bus_value(const Workplace& place) {
  const std::string disc = ",medium=" + place.disc;
  const std::string own = ",medium=" + place.recorders.string() + "/";
  return "0:0:0=CD-ROM PX-12CS" + disc + ",jitter=3;0:1:0=CD-ROM DRIVE:222" + disc +
         ";0:2:0=CD-ROM DR-U124X" + disc + ";0:3:0=CD-ROM CDU-76S" + disc +
         ";0:4:0=CD-ROM XM-3701TA" + disc + ";0:5:0=MMC CD-ROM DRIVE" + disc +
         ";0:6:0=MMC CD-RW DRIVE" + own + "mmc;0:7:0=CD-ROM XM-3401TA;1:0:0=CDD2000" + own +
         "philips;1:1:0=CD-R   CDU924S" + own + "sony;1:2:0=RO1060C" + own + "ricoh;1:3:0=CDR102" +
         own + "yamaha;1:4:0=RCD-1000" + own + "jvc;1:5:0=CDW-900E" + own +
         "sony15;1:6:0=CDD521/02" + own + "philips6;1:7:0=DISC TRANSPORTER,recorder=1:0:0;" +
         "2:0:0=CD-ROM PX-4XCS" + disc + ";2:1:0=CDR100" + own + "yamaha19";
}

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Workplace& place = workplace();
  // Every run starts from blank recorder discs.
  fs::remove_all(place.recorders);
  fs::create_directories(place.recorders);
  EmulatedBus bus(parse_emulated_bus(bus_value(place)));
  const auto& devices = bus.devices();
  std::size_t at = 0;
  for (std::size_t record = 0; record < MOST_RECORDS && at + 5 <= size; ++record) {
    const uint8_t which = data[at];
    if (which == 0xFF) {
      advance_emulated_clock(data[at + 1] * 100u);
      at += 2;
      continue;
    }
    const EmulatedDevice& device = *devices[which % devices.size()];
    ScsiRequest request;
    request.command_code = SC_EXEC_SCSI_CMD;
    request.host_adapter = device.host_adapter();
    request.target = device.target();
    request.lun = device.lun();
    request.cdb_length = static_cast<uint8_t>(6 + data[at + 1] % 11);
    const uint8_t direction = data[at + 2] % 3;
    request.flags = direction == 1 ? SRB_DIR_IN : direction == 2 ? SRB_DIR_OUT : SRB_DIR_NONE;
    const uint32_t length = direction == 0 ? 0 : (data[at + 3] << 8 | data[at + 4]);
    at += 5;
    for (uint8_t i = 0; i < request.cdb_length; ++i) request.cdb[i] = at < size ? data[at++] : 0;
    // The buffer is exactly as long as the request says, so that a device
    // that writes past it is caught by the address sanitizer.
    std::vector<uint8_t> buffer(length);
    if (direction == 2) {
      for (uint32_t i = 0; i < length && at < size; ++i) buffer[i] = data[at++];
    }
    request.buffer = length ? buffer.data() : nullptr;
    request.buffer_length = length;
    request.sense_length = SENSE_LENGTH;
    bus.execute(request);
    check(request.transferred <= request.buffer_length);
    check(request.srb_status == SS_COMP || request.srb_status == SS_ERR);
    if (request.target_status == STATUS_CHECK_CONDITION)
      check((request.sense_area[0] & 0x7F) == 0x70 && request.sense_area[7] == SENSE_LENGTH - 8);
  }
  return 0;
}
