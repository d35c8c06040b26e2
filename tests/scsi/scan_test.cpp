#include "scsi/scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/console.h"
#include "common/msgvec.h"
#include "emulator/bus.h"
#include "scsi/models.h"
#include "scsi/settings.h"
#include "support/raised.h"
#include "support/scsi_fakes.h"
#include "tools/shared/drive_setup.h"

namespace {

using cdm_test::raised_text;

using cdm_test::RecordingTransport;
using cdm_test::ScopedEnv;
using cdm_test::ScopedTransport;

// Scans an emulated bus described as EMULATED_SCSI_BUS would describe it.
class BusScan : public testing::Test {
 protected:
  void scan(const std::string& bus, bool lun_enabled = false) {
    ScopedEnv lun("LUN_ENABLED", lun_enabled ? std::optional<std::string>("") : std::nullopt);
    load_scsi_settings();
    transport_.reset();
    transport_ = std::make_unique<ScopedTransport<RecordingTransport>>(
        std::make_unique<RecordingTransport>(make_emulated_bus(bus)));
    ASSERT_EQ(aspi_open(true), 1);
    scan_scsi_bus();
  }
  void TearDown() override {
    release_devices();
    load_scsi_settings();
  }
  std::string product_of(const ScsiDevice* device) const {
    return std::string(device->product, sizeof device->product);
  }
  std::size_t inquiries() const { return (*transport_)->commands.size(); }

  std::unique_ptr<ScopedTransport<RecordingTransport>> transport_;
};

TEST_F(BusScan, UnknownCdRomIsAGenericReader) {
  scan("0:2:0=MYSTERY DRIVE,vendor=NOBODY,revision=0.9");
  ASSERT_EQ(device_count(), 1u);
  ScsiDevice* device =
      find_device(KIND_MASK_READER_OR_RECORDER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->device_kind, DEVICE_READER);
  EXPECT_EQ(device->model_code, MODEL_UNKNOWN_CDROM);
  EXPECT_EQ(format_text("%u:%u:%u %.8s %.16s %.4s", device->host_adapter, device->target,
                        device->lun, device->vendor, device->product, device->revision),
            "0:2:0 NOBODY   MYSTERY DRIVE    0.9 ");
  EXPECT_EQ(find_device(KIND_MASK_RECORDER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS), nullptr);
}

TEST_F(BusScan, DeviceTypeByteDecidesTheTableLookups) {
  scan(
      "0:0:0=SOME DISK,type=0;"
      "0:1:0=CDD2600,type=0xFF;"          // known recorder behind qualifier 0xFF
      "0:2:0=CD-ROM XM-3401TA,type=255;"  // known reader behind 0xFF
      "0:3:0=WHO KNOWS,type=0xFF;"        // unknown behind 0xFF: ignored
      "0:4:0=WORM THING,type=4;"          // unknown WORM: generic reader
      "0:5:0=CD-ROM DRIVE:500,type=4;"    // known reader with type 4
      "0:6:0=CHANGER 3000,type=8;"        // medium changer of another product: ignored
      "0:7:0=DISC TRANSPORTER");
  const struct {
    uint8_t id;
    uint8_t kind;
    uint8_t model;
  } expected[] = {
      {0, DEVICE_DISK, MODEL_DISK}, {1, DEVICE_RECORDER, 9},
      {2, DEVICE_READER, 33},       {4, DEVICE_READER, MODEL_UNKNOWN_CDROM},
      {5, DEVICE_READER, 21},       {7, DEVICE_TRANSPORTER, MODEL_TRANSPORTER},
  };
  ASSERT_EQ(device_count(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(device_at(i)->target, expected[i].id);
    EXPECT_EQ(device_at(i)->device_kind, expected[i].kind) << "device " << i;
    EXPECT_EQ(device_at(i)->model_code, expected[i].model) << "device " << i;
  }
  EXPECT_EQ(find_device(KIND_MASK_TRANSPORTER, ANY_ADDRESS, 0, 0)->target, 7);
  EXPECT_EQ(find_device(1u << DEVICE_DISK, ANY_ADDRESS, 0, 0)->target, 0);
}

TEST_F(BusScan, RecorderRowsWithReaderCodesBecomeReaders) {
  scan("0:1:0=CD-R CW-7501;0:2:0=CD-R CR-2200CS;0:3:0=CDR4240,type=4");
  ASSERT_EQ(device_count(), 3u);
  EXPECT_EQ(device_at(0)->model_code, 4);
  EXPECT_EQ(device_at(1)->model_code, 5);
  EXPECT_EQ(device_at(2)->model_code, 4);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(device_at(i)->device_kind, DEVICE_READER);
  EXPECT_EQ(find_device(KIND_MASK_RECORDER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS), nullptr);
  EXPECT_EQ(find_device(KIND_MASK_READER_OR_RECORDER, 0, 2, 0), device_at(1));
}

TEST_F(BusScan, LunsBeyondZeroOnlyWithLunEnabled) {
  const char* bus = "0:3:0=CD-ROM PX-12CS;0:3:1=CDD2000";
  scan(bus);
  EXPECT_EQ(inquiries(), 8u);  // one adapter, eight targets, LUN 0
  EXPECT_EQ(device_count(), 1u);
  EXPECT_EQ(find_device(KIND_MASK_RECORDER, ANY_ADDRESS, 0, 0), nullptr);
  EXPECT_EQ(find_device(KIND_MASK_READER_OR_RECORDER, 0, 3, 1), nullptr);
  release_devices();

  scan(bus, true);
  EXPECT_EQ(inquiries(), 64u);  // every LUN of every target
  ASSERT_EQ(device_count(), 2u);
  EXPECT_EQ(find_device(KIND_MASK_RECORDER, ANY_ADDRESS, 0, 0), device_at(1));
  EXPECT_EQ(device_at(1)->lun, 1);
  EXPECT_EQ(device_at(1)->model_code, 8);
}

TEST_F(BusScan, TheLowestAddressIsPreferred) {
  scan("1:0:0=CDD2000;0:6:0=CDR102;0:5:0=RCD5040");
  ASSERT_EQ(device_count(), 3u);
  ScsiDevice* first = find_device(KIND_MASK_RECORDER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->target, 5);
  EXPECT_EQ(first->model_code, 11);
  ScsiDevice* chosen = find_device(KIND_MASK_RECORDER, 1, 0, 0);
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->model_code, 8);
  EXPECT_EQ(find_device(KIND_MASK_RECORDER, 1, 0, 1), nullptr);
  EXPECT_EQ(inquiries(), 16u);  // two adapters
}

TEST_F(BusScan, ProductsMatchExactly) {
  scan("0:0:0=CDD2000;0:1:0= CDD2000;0:2:0=cdd2000;0:3:0=CDD2000/0;0:4:0=CDD2000         ");
  ASSERT_EQ(device_count(), 5u);
  EXPECT_EQ(product_of(device_at(0)), "CDD2000         ");
  EXPECT_EQ(device_at(0)->model_code, 8);
  EXPECT_EQ(device_at(4)->model_code, 8);  // the padding it would have had anyway
  for (std::size_t i = 1; i < 4; ++i)
    EXPECT_EQ(device_at(i)->model_code, MODEL_UNKNOWN_CDROM) << product_of(device_at(i));
}

TEST_F(BusScan, FailedInquiriesAreSkippedSilently) {
  scan("0:1:0=CDD2000,fail=12:4/44/00;0:2:0=CDR102,busy=3,notready=2");
  ASSERT_EQ(device_count(), 1u);
  EXPECT_EQ(device_at(0)->target, 2);
}

TEST_F(BusScan, TheListHoldsSixtyFourDevices) {
  std::string bus;
  for (int ha = 0; ha < 2; ++ha)
    for (int id = 0; id < 8; ++id)
      for (int lun = 0; lun < 5; ++lun) bus += format_text("%d:%d:%d=DRIVE %d;", ha, id, lun, lun);
  ScopedEnv trace("TRACE_SCSI_ENABLED", "");
  testing::internal::CaptureStderr();
  scan(bus, true);
  const std::string traced = testing::internal::GetCapturedStderr();
  EXPECT_EQ(device_count(), MAX_SCSI_DEVICES);
  EXPECT_EQ(device_at(63)->host_adapter, 1);
  EXPECT_EQ(device_at(63)->target, 4);
  EXPECT_EQ(device_at(63)->lun, 3);
  EXPECT_NE(traced.find("SCSI: device list full, ignoring 1:4:4\n"), std::string::npos);
  EXPECT_NE(traced.find("SCSI: device list full, ignoring 1:7:4\n"), std::string::npos);
  release_devices();
  EXPECT_EQ(device_count(), 0u);
}

TEST(ModelTables, RowsInTheirOrder) {
  std::size_t recorders = 0, readers = 0;
  while (recorder_models[recorders].product[0] != '\0') ++recorders;
  while (reader_models[readers].product[0] != '\0') ++readers;
  EXPECT_EQ(recorders, 42u);
  EXPECT_EQ(readers, 32u);
  std::string codes;
  for (std::size_t i = 0; i < recorders; ++i)
    codes += std::to_string(recorder_models[i].model_code) + " ";
  EXPECT_EQ(codes,
            "6 6 6 7 7 8 8 8 8 8 8 8 9 9 9 2 10 10 10 10 11 11 11 12 4 4 5 13 14 14 15 16 16 17 "
            "17 17 17 17 18 18 19 20 ");
  codes.clear();
  for (std::size_t i = 0; i < readers; ++i)
    codes += std::to_string(reader_models[i].model_code) + " ";
  EXPECT_EQ(codes,
            "22 21 22 23 24 25 26 27 27 27 28 29 30 30 31 31 31 31 31 32 33 33 33 33 34 34 34 "
            "34 34 35 35 35 ");
  EXPECT_STREQ(recorder_models[0].product, "CDD521/02       ");
  EXPECT_STREQ(recorder_models[31].product, "CD-R   CDU920S  ");
  EXPECT_STREQ(recorder_models[41].product, "CDR102          ");
  EXPECT_STREQ(reader_models[16].product, "CD-ROM CDU-8003A");
  EXPECT_STREQ(reader_models[31].product, "CD-ROM XM-5601TA");
  EXPECT_STREQ(transporter_models[0].product, "DISC TRANSPORTER");
  EXPECT_EQ(transporter_models[1].product[0], '\0');
}

TEST(ModelTables, LookupComparesAllSixteenBytes) {
  EXPECT_EQ(lookup_model(recorder_models, "CDD2000         ")->model_code, 8);
  EXPECT_EQ(lookup_model(recorder_models, "CDD2000"), nullptr);  // zero padding
  EXPECT_EQ(lookup_model(recorder_models, "CDD2000        "), nullptr);
  EXPECT_EQ(lookup_model(reader_models, "CD-ROM DRIVE:222")->model_code, 22);
  EXPECT_EQ(lookup_model(reader_models, "CDD2000         "), nullptr);
}

TEST(ScsiSettings, EnvironmentVariables) {
  {
    ScopedEnv lun("LUN_ENABLED", "");
    ScopedEnv trace("TRACE_SCSI_ENABLED", "no");
    ScopedEnv reader("CDREADER_ID", "1:5:0");
    ScopedEnv writer("CDWRITER_ID", "0:255:02");
    load_scsi_settings();
    const ScsiSettings& s = scsi_settings();
    EXPECT_TRUE(s.lun_enabled);
    EXPECT_TRUE(s.trace_enabled);
    EXPECT_TRUE(s.reader_id_given);
    EXPECT_EQ(s.reader_ha, 1);
    EXPECT_EQ(s.reader_id, 5);
    EXPECT_EQ(s.reader_lun, 0);
    EXPECT_TRUE(s.writer_id_given);
    EXPECT_EQ(s.writer_id, 255);
    EXPECT_EQ(s.writer_lun, 2);
  }
  {
    ScopedEnv reader("CDREADER_ID", "");  // set empty: as if not set
    load_scsi_settings();
    EXPECT_FALSE(scsi_settings().reader_id_given);
  }
  // Every number read whole and within a byte, or the variable is refused by name.
  for (const char* malformed : {"1:5", "a:1:2", "1;5;0", "0:300:2", "256:259:0", "0:3:0x",
                                "0:3:0:", " 0:3:0", "0:-1:0", "0:+1:0", "0::0"}) {
    for (const char* name : {"CDREADER_ID", "CDWRITER_ID"}) {
      ScopedEnv reader("CDREADER_ID", std::nullopt);
      ScopedEnv writer("CDWRITER_ID", std::nullopt);
      ScopedEnv bad(name, malformed);
      EXPECT_EQ(raised_text([] { load_scsi_settings(); }),
                std::string("\nError: Invalid ") + name + " value \"" + malformed +
                    "\" (ha:id:lun, each a number from 0 to 255)\n")
          << malformed;
    }
  }
  load_scsi_settings();
}

TEST(AspiOpen, UsesTheInstalledTransport) {
  ScopedTransport<RecordingTransport> transport;
  transport->adapters = 3;
  EXPECT_EQ(aspi_open(true), 1);
  EXPECT_EQ(aspi_adapter_count(), 3);
  transport->open_result = false;
  EXPECT_EQ(aspi_open(false), 0);
  EXPECT_EQ(raised_text([&] { aspi_open(true); }),
            "\nError: Unable to initialize the ASPI manager\n");
}

TEST(AspiOpen, TheEnvironmentChoosesTheBackend) {
  install_drive_setup();
  auto saved = install_scsi_transport(nullptr);
  {
    ScopedEnv bus("EMULATED_SCSI_BUS", "2:1:0=CDD2000");
    EXPECT_EQ(aspi_open(true), 1);
    EXPECT_NE(dynamic_cast<EmulatedBus*>(scsi_transport()), nullptr);
    EXPECT_EQ(aspi_adapter_count(), 3);
  }
  install_scsi_transport(nullptr);
  {
    ScopedEnv bus("EMULATED_SCSI_BUS", "2:9:0=CDD2000");
    testing::internal::CaptureStderr();
    const int status = run_tool([] { return aspi_open(true) == 1 ? 0 : 2; });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nError: Invalid EMULATED_SCSI_BUS value: bad address \"2:9:0\" (ha:id:lun, ha 0 "
              "to 15, id and lun 0 to 7) in \"2:9:0=CDD2000\"\n");
  }
  install_scsi_transport(std::move(saved));
  set_transport_factory(nullptr);
}

TEST(AspiOpen, NoBackendWithoutATransportFactory) {
  auto saved = install_scsi_transport(nullptr);
  set_transport_factory(nullptr);
  EXPECT_EQ(aspi_open(false), 0);
  install_scsi_transport(std::move(saved));
}

// Answers INQUIRY as a disk on host adapter 0 and as a CD-ROM drive on
// adapters 1 and 2: 64 disks, then 128 drives.
TEST(DeviceList, DisksDoNotFillItAndAFullListSaysSo) {
  ScopedEnv lun("LUN_ENABLED", "");
  ScopedEnv trace("TRACE_SCSI_ENABLED", "");
  load_scsi_settings();
  ScopedTransport<RecordingTransport> transport;
  transport->adapters = 3;
  transport->responder = [](ScsiRequest& request) {
    request.srb_status = SS_COMP;
    std::memset(request.buffer, 0, request.buffer_length);
    request.buffer[0] = request.host_adapter == 0 ? 0x00 : 0x05;
    std::memcpy(request.buffer + 16, "CD-ROM DRIVE    ", 16);
  };
  ASSERT_EQ(aspi_open(true), 1);
  testing::internal::CaptureStderr();
  scan_scsi_bus();
  const std::string traced = testing::internal::GetCapturedStderr();
  std::size_t readers = 0;
  for (std::size_t i = 0; i < device_count(); ++i)
    readers += device_at(i)->device_kind == DEVICE_READER;
  EXPECT_EQ(readers, MAX_SCSI_DEVICES);
  EXPECT_EQ(device_count(), 128u);  // the disks are listed beside them
  EXPECT_NE(find_device(KIND_MASK_READER_OR_RECORDER, 1, 0, 0), nullptr);
  EXPECT_NE(find_device(KIND_MASK_READER_OR_RECORDER, 1, 7, 7), nullptr);
  EXPECT_EQ(find_device(KIND_MASK_READER_OR_RECORDER, 2, 0, 0), nullptr);
  EXPECT_EQ(ignored_device_count(), 64u);
  EXPECT_EQ(device_list_full_note(),
            "The device list holds 64 devices; 64 more found on the bus were ignored.\n");
  EXPECT_NE(traced.find("SCSI: device list full, ignoring 2:0:0\n"), std::string::npos);
  EXPECT_NE(traced.find("SCSI: device list full, ignoring 2:7:7\n"), std::string::npos);
  { const DeviceListRelease release; }
  EXPECT_EQ(device_count(), 0u);
  EXPECT_EQ(device_list_full_note(), "");
  load_scsi_settings();
}

}  // namespace
