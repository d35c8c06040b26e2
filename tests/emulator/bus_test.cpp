#include "emulator/bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msgvec.h"
#include "emulator/models.h"
#include "scsi/device.h"
#include "scsi/settings.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::RecordingTransport;
using cdm_test::ScopedEnv;
using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

std::string inquiry_identity(const uint8_t* data) {
  return std::string(reinterpret_cast<const char*>(data + 8), 28);
}

TEST(EmulatedBus, InquiryGivesTheIdentityAsWritten) {
  ScopedTransport<EmulatedBus> bus(
      parse_emulated_bus(" 0:3:0=CD-ROM PX-12CS,vendor=ACME,revision=1.1,type=0xFF ; 1:0:0=CDD2000;"
                         "0:5:0=DISC TRANSPORTER;"));
  EXPECT_EQ(bus->adapter_count(), 2);
  uint8_t data[INQUIRY_LENGTH] = {};
  ASSERT_EQ(ScsiDevice::Inquiry(0, 3, 0, data, nullptr, false), 1);
  EXPECT_EQ(Bytes(data, data + 5), Bytes({0xFF, 0x80, 0x02, 0x02, 91}));
  EXPECT_EQ(inquiry_identity(data), "ACME    CD-ROM PX-12CS  1.1 ");
  ASSERT_EQ(ScsiDevice::Inquiry(1, 0, 0, data, nullptr, false), 1);
  EXPECT_EQ(data[0], EMU_TYPE_CDROM);
  EXPECT_EQ(inquiry_identity(data), "EMULATEDCDD2000         1.00");
  ASSERT_EQ(ScsiDevice::Inquiry(0, 5, 0, data, nullptr, false), 1);
  EXPECT_EQ(data[0], EMU_TYPE_CHANGER);
  EXPECT_EQ(data[1], 0x00);  // a changer's medium is not removable in the INQUIRY sense
}

TEST(EmulatedBus, MalformedValuesSayWhatIsWrong) {
  const struct {
    const char* value;
    const char* why;  // what makes the value bad, as the error says
  } bad[] = {
      {"0:3:0", "no '=' after the address in \"0:3:0\""},
      {"0:8:0=X",
       "bad address \"0:8:0\" (ha:id:lun, ha 0 to 15, id and lun 0 to 7) in \"0:8:0=X\""},
      {"0:-1:0=X", "bad address \"0:-1:0\""},
      {"0:3:0=", "empty product in \"0:3:0=\""},
      {"0:3:0=ABCDEFGHIJKLMNOPQ", "product longer than 16 characters"},
      {"0:3:0=X,vendor=ABCDEFGHI", "vendor longer than 8 characters"},
      {"0:3:0=X,type=3", "bad type \"3\" (0, 4, 5, 8 or 0xFF)"},
      {"0:3:0=X,type=010", "bad type \"010\""},  // decimal, not octal 8
      {"0:3:0=X,medium", "item \"medium\" is not key=value in \"0:3:0=X,medium\""},
      {"0:3:0=X,=5", "item \"=5\" has no key"},
      {"0:3:0=X,fail=28", "bad fail item \"28\" (OP:KEY/ASC/ASCQ[*N], in hex)"},
      {"0:3:0=X,fail=28:10/11/00", "bad fail item \"28:10/11/00\""},
      {"0:3:0=X,fail=28:83/11/00", "bad fail item \"28:83/11/00\""},  // no filemark bit
      {"0:3:0=X,fail=28:3/11/00*0", "bad fail item \"28:3/11/00*0\""},
      {"0:3:0=X,notready=two", "bad count in \"notready=two\""},
      {"0:3:0=X;0:3:0=Y", "address used twice in \"0:3:0=Y\""},
      {"0:3:0=X,speed=4", "unknown item \"speed\" in \"0:3:0=X,speed=4\""},
      {"0:3:0=X,jitter=1,jitter=2", "item \"jitter\" given twice"},
  };
  for (const auto& row : bad) {
    testing::internal::CaptureStderr();
    const int status = run_tool([&] {
      make_emulated_bus(row.value);
      return 0;
    });
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1) << row.value;
    EXPECT_EQ(text.rfind("\nError: Invalid EMULATED_SCSI_BUS value: ", 0), 0u) << text;
    EXPECT_NE(text.find(row.why), std::string::npos) << row.value << " gave " << text;
  }
}

TEST(EmulatedBus, AnEmptyValueIsAnEmptyBus) {
  ScopedTransport<EmulatedBus> bus(parse_emulated_bus(" ; "));
  EXPECT_EQ(bus->adapter_count(), 1);
  EXPECT_TRUE(bus->devices().empty());
  uint8_t data[INQUIRY_LENGTH] = {};
  EXPECT_EQ(ScsiDevice::Inquiry(0, 0, 0, data, nullptr, false), MSG_NO_DEVICE);
  EXPECT_EQ(ScsiDevice::Inquiry(1, 0, 0, data, nullptr, false), MSG_INVALID_HOST_ADAPTER);
}

class EmulatedDrive : public testing::Test {
 protected:
  // Puts the bus of `value` in place. Media are named inside the test's own
  // folder, so tests run side by side never share a medium's lock.
  void use(std::string value) {
    for (size_t at = value.find("medium="); at != std::string::npos;
         at = value.find("medium=", at + 1))
      value.insert(at + 7, scratch_.path() + "/");
    transport_.reset();
    transport_ = std::make_unique<ScopedTransport<RecordingTransport>>(
        std::make_unique<RecordingTransport>(make_emulated_bus(value)));
  }
  EmulatedBus& bus() const { return *static_cast<EmulatedBus*>((*transport_)->inner()); }
  // REQUEST SENSE of 18 bytes.
  Bytes request_sense(ScsiDevice& device) {
    uint8_t cdb[6] = {0x03, device.LunBits(), 0, 0, SENSE_LENGTH, 0};
    uint8_t data[SENSE_LENGTH] = {};
    EXPECT_EQ(device.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 6, data, sizeof data), 1);
    return Bytes(data, data + SENSE_LENGTH);
  }

  ScratchDirectory scratch_;
  std::unique_ptr<ScopedTransport<RecordingTransport>> transport_;
  ScsiDevice reader{0, 3, 0};
  ScsiDevice recorder{0, 4, 0};
};

TEST_F(EmulatedDrive, TestUnitReadyNeedsAMedium) {
  use("0:3:0=CD-ROM PX-12CS;0:4:0=CDD2000,medium=burned;0:5:0=DISC TRANSPORTER;0:6:0=DISK,type=0");
  EXPECT_EQ(reader.TestUnitReadyRaw(), MSG_NOT_READY);
  EXPECT_EQ(reader.last_sense[12], 0x3A);  // medium not present
  // REQUEST SENSE gives the same sense data once, then no sense.
  const Bytes sense = request_sense(reader);
  EXPECT_EQ(sense, Bytes(reader.last_sense.begin(), reader.last_sense.end()));
  EXPECT_EQ(sense, Bytes({0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0, 0, 0, 0, 0}));
  EXPECT_EQ(request_sense(reader)[2], SENSE_KEY_NO_SENSE);
  EXPECT_EQ(recorder.TestUnitReadyRaw(), 1);
  EXPECT_EQ(ScsiDevice(0, 5, 0).TestUnitReadyRaw(), 1);
  EXPECT_EQ(ScsiDevice(0, 6, 0).TestUnitReadyRaw(), 1);
  EXPECT_EQ(bus().device(0, 4, 0)->medium()->name, scratch_.file("burned"));
  EXPECT_EQ(bus().device(0, 3, 0)->medium(), nullptr);
}

TEST_F(EmulatedDrive, UnknownCommandsAreIllegalRequests) {
  use("0:4:0=CDD2000,medium=blank");
  uint8_t buffer[8] = {};
  // FORMAT DISC belongs to another class of the family.
  const uint8_t format_disc[10] = {0xEF, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(recorder.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, format_disc, 10, nullptr, 0),
            MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(recorder.last_sense[2], SENSE_KEY_ILLEGAL_REQUEST);
  EXPECT_EQ(recorder.last_sense[12], 0x20);
  EXPECT_EQ(recorder.last_sense[13], 0x00);
  // READ CD-DA, 1 block at LBA 0
  const uint8_t read_cdda[12] = {0xD8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0};
  EXPECT_EQ(recorder.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, read_cdda, 12, buffer, 8),
            MSG_ILLEGAL_REQUEST);
  // INQUIRY of vital product data is refused too.
  const uint8_t evpd[6] = {0x12, 0x01, 0x80, 0, 8, 0};
  EXPECT_EQ(recorder.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, evpd, 6, buffer, 8),
            MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(recorder.last_sense[12], 0x24);
}

TEST_F(EmulatedDrive, CountedFaultsComeInOrderAndSpareInquiry) {
  use("0:4:0=CDD2000,medium=blank,notready=2,attention=1,busy=1");
  uint8_t data[INQUIRY_LENGTH] = {};
  EXPECT_EQ(ScsiDevice::Inquiry(0, 4, 0, data, nullptr, false), 1);
  EXPECT_EQ(recorder.TestUnitReadyRaw(), MSG_TARGET_BUSY);
  EXPECT_EQ(recorder.TestUnitReadyRaw(), MSG_UNIT_ATTENTION);
  EXPECT_EQ(recorder.last_sense[12], 0x29);
  EXPECT_EQ(request_sense(recorder)[12], 0x29);  // REQUEST SENSE is spared as well
  EXPECT_EQ(recorder.TestUnitReadyRaw(), MSG_NOT_READY);
  EXPECT_EQ(recorder.last_sense[12], 0x04);
  EXPECT_EQ(recorder.last_sense[13], 0x01);
  EXPECT_EQ(recorder.SynchronizeCacheRaw(), MSG_NOT_READY);  // any command counts
  EXPECT_EQ(recorder.TestUnitReadyRaw(), 1);
}

TEST_F(EmulatedDrive, CommandFaultsHitTheirOpcode) {
  use("0:4:0=CDD2000,medium=blank,fail=00:B/47/00*2,fail=12:4/44/00,fail=35:63/0C/00");
  uint8_t data[INQUIRY_LENGTH] = {};
  EXPECT_EQ(ScsiDevice::Inquiry(0, 4, 0, data, nullptr, false), MSG_HARDWARE_ERROR);
  EXPECT_EQ(ScsiDevice::Inquiry(0, 4, 0, data, nullptr, false), 1);
  EXPECT_EQ(recorder.TestUnitReadyRaw(), MSG_ABORTED_COMMAND);
  EXPECT_EQ(recorder.last_sense[12], 0x47);
  EXPECT_EQ(recorder.TestUnitReadyRaw(), MSG_ABORTED_COMMAND);
  EXPECT_EQ(recorder.TestUnitReadyRaw(), 1);
  // The end-of-medium and incorrect-length bits go beside the key.
  EXPECT_NE(recorder.SynchronizeCacheRaw(), 1);
  EXPECT_EQ(recorder.last_sense[2], 0x63);
  EXPECT_EQ(recorder.last_sense[12], 0x0C);
}

TEST_F(EmulatedDrive, MissingLunsAndTargets) {
  use("0:3:0=CD-ROM PX-12CS");
  uint8_t data[INQUIRY_LENGTH] = {};
  EXPECT_EQ(ScsiDevice::Inquiry(0, 3, 1, data, nullptr, false), 1);
  EXPECT_EQ(data[0], EMU_TYPE_NO_LUN);
  EXPECT_EQ(ScsiDevice(0, 3, 1).TestUnitReadyRaw(), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(ScsiDevice(0, 2, 0).TestUnitReadyRaw(), MSG_NO_DEVICE);
}

TEST_F(EmulatedDrive, DriveModelsExtendTheCommandTable) {
  use("0:4:0=CDD2000,medium=blank");
  EmulatedDevice& device = *bus().device(0, 4, 0);
  device.set_handler(0x25, [](EmulatedDevice&, const EmulatedCommand& command) {
    const uint8_t capacity[8] = {0, 0, 0x10, 0, 0, 0, 0x08, 0};
    command.send_data(capacity, sizeof capacity, 8);
    return EmulatedAnswer::good();
  });
  uint32_t last_lba = 0;
  EXPECT_EQ(recorder.ReadCapacityRaw(&last_lba, nullptr), 1);
  EXPECT_EQ(last_lba, 0x1000u);
  device.set_handler(0x25, {});
  EXPECT_EQ(recorder.ReadCapacityRaw(&last_lba, nullptr), MSG_ILLEGAL_REQUEST);
  // Answers with the end-of-medium bit and information field.
  device.set_handler(0x35, [](EmulatedDevice&, const EmulatedCommand&) {
    EmulatedAnswer answer = EmulatedAnswer::check(SENSE_NONE, SENSE_EOM);
    answer.information_valid = true;
    answer.information = 0x01020304;
    return answer;
  });
  EXPECT_EQ(recorder.SynchronizeCacheRaw(), MSG_END_OF_MEDIUM);
  EXPECT_EQ(Bytes(recorder.last_sense.begin(), recorder.last_sense.begin() + 7),
            Bytes({0xF0, 0, 0x40, 1, 2, 3, 4}));
  // Items are the model's to take.
  EmulatedDeviceSpec spec = parse_emulated_bus("0:1:0=X,jitter=3,bad=100")[0];
  EmulatedDevice fresh(spec);
  EXPECT_EQ(fresh.take_item("jitter"), "3");
  EXPECT_EQ(fresh.take_item("speed"), std::nullopt);
  EXPECT_EQ(fresh.untaken_items(), std::vector<std::string>({"bad"}));
  EXPECT_EQ(install_emulated_model(fresh) != nullptr, !emulated_models().empty());
}

TEST_F(EmulatedDrive, TraceShowsEveryCommand) {
  use("0:3:0=CD-ROM PX-12CS");
  ScopedEnv trace("TRACE_SCSI_ENABLED", "1");
  load_scsi_settings();
  testing::internal::CaptureStderr();
  uint8_t data[INQUIRY_LENGTH] = {};
  ScsiDevice::Inquiry(0, 3, 0, data, nullptr, false);
  reader.TestUnitReadyRaw();
  const std::string traced = testing::internal::GetCapturedStderr();
  load_scsi_settings();
  EXPECT_EQ(traced,
            "SCSI 0:3:0 [12 00 00 00 68 00] in 104 (96 moved): status 01/00/00, result 1\n"
            "SCSI 0:3:0 [00 00 00 00 00 00] none 0: status 04/00/02, sense key 2 ASC 3A ASCQ 00, "
            "result -25 (Device is not ready)\n");
}

}  // namespace
