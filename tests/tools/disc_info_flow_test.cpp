// discinfo's flow in this process, on an emulated drive behind a transport
// that records every command: what the drive is left with after /MODE, on
// success and when an error ends the listing, and the device list after an
// error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/bus.h"
#include "scsi/scan.h"
#include "support/raised.h"
#include "support/sample_discs.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"
#include "tools/discinfo/disc_info.h"
#include "tools/shared/drive_setup.h"

namespace {

using cdm_test::check_reply;
using cdm_test::raised_text;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;

class DiscInfoFlow : public testing::Test {
 protected:
  DiscInfoFlow() {
    install_drive_setup();
    SampleDisc disc;
    disc.tracks = {{TrackType::Mode1, 300, 0, "", ""}, {TrackType::Mode1, 300, 0, "", ""}};
    const std::string cue = write_sample_disc(scratch.path(), "disc", disc);
    transport =
        std::make_unique<ScopedTransport<RecordingTransport>>(std::make_unique<RecordingTransport>(
            make_emulated_bus("0:3:0=CD-ROM PX-12CS,medium=" + cue)));
  }

  // Runs the flow with /MODE and /NOPROMPT; the listing is not wanted here.
  int run_with_modes() {
    DiscInfoSettings settings;
    settings.mode = true;
    settings.prompt = false;
    testing::internal::CaptureStdout();
    struct Restore {
      ~Restore() { testing::internal::GetCapturedStdout(); }
    } restore;
    return run_disc_info(settings);
  }

  // The block lengths of the MODE SELECT block descriptors sent, in order.
  std::vector<uint32_t> selected_block_lengths() const {
    std::vector<uint32_t> lengths;
    for (const auto& command : (*transport)->commands)
      if (command.opcode() == 0x15 && command.data_out.size() == 12)
        lengths.push_back(uint32_t{command.data_out[9]} << 16 | command.data_out[10] << 8 |
                          command.data_out[11]);
    return lengths;
  }

  ScratchDirectory scratch;
  std::unique_ptr<ScopedTransport<RecordingTransport>> transport;
};

TEST_F(DiscInfoFlow, ModesLeaveTheDriveAt2048ByteBlocks) {
  EXPECT_EQ(run_with_modes(), 0);
  EXPECT_EQ(selected_block_lengths(), std::vector<uint32_t>({2340, 2340, 2048}));
  EXPECT_EQ(device_count(), 0u);
}

TEST_F(DiscInfoFlow, AnErrorMidwaySetsTheBlockLengthBackAndReleasesTheDevices) {
  // The second track's MODE SELECT fails after the first set 2340-byte blocks.
  int selects = 0;
  RecordingTransport& recording = **transport;
  recording.responder = [&](ScsiRequest& request) {
    if (request.cdb[0] == 0x15 && ++selects == 2) {
      RecordingTransport::apply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x26), request);
    } else {
      recording.inner()->execute(request);
    }
  };
  EXPECT_EQ(raised_text([&] { run_with_modes(); }),
            "\nError: 'SET BLOCK LENGTH' command failed on device 0:3:0\n"
            "Illegal command request\n");
  EXPECT_EQ(selected_block_lengths(), std::vector<uint32_t>({2340, 2340, 2048}));
  EXPECT_EQ(device_count(), 0u);
}

}  // namespace
