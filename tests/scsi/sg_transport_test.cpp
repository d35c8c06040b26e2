#include "scsi/linux/sg_transport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/msgvec.h"
#include "scsi/device.h"
#include "scsi/settings.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;
using cdm_test::ScopedTransport;

SgIoOutcome outcome(uint8_t status, uint16_t host, uint16_t driver, uint8_t sense_written = 0) {
  SgIoOutcome result;
  result.status = status;
  result.host_status = host;
  result.driver_status = driver;
  result.sense_written = sense_written;
  return result;
}

SgIoOutcome failed_ioctl(int error_number) {
  SgIoOutcome result;
  result.ioctl_result = -1;
  result.error_number = error_number;
  return result;
}

TEST(SgIoMapping, StatusBytesOfEachOutcome) {
  const struct {
    const char* what;
    SgIoOutcome in;
    AspiStatus out;
    ResultCode result;
  } rows[] = {
      {"good", outcome(0, 0, 0), {SS_COMP, 0, 0}, 1},
      {"check condition with sense",
       outcome(0x02, 0, SG_DRIVER_SENSE, 18),
       {SS_ERR, 0, STATUS_CHECK_CONDITION},
       MSG_NOT_READY},
      {"check condition without sense",
       outcome(0x02, 0, 0, 0),
       {SS_ERR, HASTAT_REQUEST_SENSE_FAILED, 0},
       MSG_SENSE_FAILED},
      {"busy", outcome(0x08, 0, 0), {SS_ERR, 0, STATUS_BUSY}, MSG_TARGET_BUSY},
      {"reservation conflict",
       outcome(0x18, 0, 0),
       {SS_ERR, 0, STATUS_RESERVATION_CONFLICT},
       MSG_RESERVATION_CONFLICT},
      {"task set full", outcome(0x28, 0, 0), {SS_ERR, 0, 0x28}, MSG_TARGET_ERROR},
      {"no connection",
       outcome(0, SG_DID_NO_CONNECT, 0),
       {SS_ERR, HASTAT_SEL_TO, 0},
       MSG_SELECTION_TIMEOUT},
      {"bad target",
       outcome(0, SG_DID_BAD_TARGET, 0),
       {SS_ERR, HASTAT_SEL_TO, 0},
       MSG_SELECTION_TIMEOUT},
      {"command timed out",
       outcome(0, SG_DID_TIME_OUT, 0),
       {SS_ERR, HASTAT_COMMAND_TIMEOUT, 0},
       MSG_REQUEST_EXPIRED},
      {"driver timed out",
       outcome(0, 0, SG_DRIVER_TIMEOUT),
       {SS_ERR, HASTAT_COMMAND_TIMEOUT, 0},
       MSG_REQUEST_EXPIRED},
      {"bus reset",
       outcome(0x02, SG_DID_RESET, SG_DRIVER_SENSE, 18),
       {SS_ERR, HASTAT_BUS_RESET, 0},
       MSG_BUS_RESET},
      {"parity", outcome(0, SG_DID_PARITY, 0), {SS_ERR, HASTAT_PARITY_ERROR, 0}, MSG_PARITY_ERROR},
      {"aborted", outcome(0, SG_DID_ABORT, 0), {SS_ABORTED, 0, 0}, MSG_REQUEST_ABORTED},
      {"transport disrupted",
       outcome(0, SG_DID_TRANSPORT_DISRUPTED, 0),
       {SS_ERR, HASTAT_PHASE_ERR, 0},
       MSG_BUS_FAILURE},
      {"other host error",
       outcome(0, SG_DID_ERROR, 0),
       {SS_ERR, HASTAT_OTHER_ERROR, 0},
       MSG_HOST_ADAPTER_ERROR},
      {"other driver error",
       outcome(0, 0, 0x04),
       {SS_ERR, HASTAT_OTHER_ERROR, 0},
       MSG_HOST_ADAPTER_ERROR},
      {"device gone", failed_ioctl(ENODEV), {SS_NO_DEVICE, 0, 0}, MSG_NO_DEVICE},
      {"bad request", failed_ioctl(EINVAL), {SS_INVALID_SRB, 0, 0}, MSG_INVALID_SRB},
      {"refused", failed_ioctl(EPERM), {SS_INVALID_CMD, 0, 0}, MSG_INVALID_REQUEST},
      {"interrupted", failed_ioctl(EINTR), {SS_ABORTED, 0, 0}, MSG_REQUEST_ABORTED},
      {"input/output error",
       failed_ioctl(EIO),
       {SS_ERR, HASTAT_OTHER_ERROR, 0},
       MSG_HOST_ADAPTER_ERROR},
  };
  uint8_t not_ready[SENSE_LENGTH] = {0x70, 0, SENSE_KEY_NOT_READY};
  for (const auto& row : rows) {
    const AspiStatus status = map_sg_io_result(row.in);
    EXPECT_EQ(status, row.out) << row.what;
    EXPECT_EQ(
        aspi_status_to_result(status.srb_status, status.ha_status, status.target_status, not_ready),
        row.result)
        << row.what;
  }
}

TEST(SgIoMapping, BytesMovedAreTheRequestLessTheResidual) {
  const auto with = [](SgIoOutcome in, uint32_t requested, int32_t residual) {
    in.requested = requested;
    in.residual = residual;
    return map_sg_io_result(in);
  };
  const struct {
    const char* what;
    AspiStatus status;
    AspiStatus expected;
  } rows[] = {
      {"all of a READ", with(outcome(0, 0, 0), 2048, 0), {SS_COMP, 0, 0, 2048}},
      {"a short TOC", with(outcome(0, 0, 0), 804, 784), {SS_COMP, 0, 0, 20}},
      {"nothing", with(outcome(0, 0, 0), 104, 104), {SS_COMP, 0, 0, 0}},
      {"no data phase", with(outcome(0, 0, 0), 0, 0), {SS_COMP, 0, 0, 0}},
      {"a residual below 0", with(outcome(0, 0, 0), 2352, -16), {SS_COMP, 0, 0, 2352}},
      {"a residual above the request", with(outcome(0, 0, 0), 12, 4096), {SS_COMP, 0, 0, 0}},
      {"part of a failed read",
       with(outcome(0x02, 0, SG_DRIVER_SENSE, 18), 23520, 16464),
       {SS_ERR, 0, STATUS_CHECK_CONDITION, 7056}},
      {"a host error",
       with(outcome(0, SG_DID_ERROR, 0), 2048, 1024),
       {SS_ERR, HASTAT_OTHER_ERROR, 0, 1024}},
      {"a failed ioctl", with(failed_ioctl(EIO), 2048, 0), {SS_ERR, HASTAT_OTHER_ERROR, 0, 0}},
  };
  for (const auto& row : rows) EXPECT_EQ(row.status, row.expected) << row.what;
}

class SgFolder : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("cdm-sg-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::filesystem::path folder_;
};

TEST_F(SgFolder, NoNodesFindsNoDeviceWithoutFailing) {
  ScopedTransport<SgTransport> transport(folder_.string());
  EXPECT_EQ(aspi_open(true), 1);
  EXPECT_EQ(aspi_adapter_count(), 0);
  EXPECT_EQ(transport->device_count(), 0u);
  uint8_t data[INQUIRY_LENGTH] = {};
  EXPECT_EQ(ScsiDevice::Inquiry(0, 0, 0, data, nullptr, false), MSG_INVALID_HOST_ADAPTER);
}

TEST_F(SgFolder, NodesThatAreNotScsiGenericAreSkippedWithAReason) {
  std::ofstream(folder_ / "sg0") << "not a device\n";
  std::ofstream(folder_ / "sgx") << "not an sg name\n";
  std::ofstream(folder_ / "sg1") << "unreadable\n";
  std::filesystem::permissions(folder_ / "sg1", std::filesystem::perms::none);
  ScopedEnv trace("TRACE_SCSI_ENABLED", "");
  load_scsi_settings();
  testing::internal::CaptureStderr();
  ScopedTransport<SgTransport> transport(folder_.string());
  EXPECT_TRUE(transport->open());
  const std::string traced = testing::internal::GetCapturedStderr();
  load_scsi_settings();
  EXPECT_EQ(transport->device_count(), 0u);
  const std::string sg0 = (folder_ / "sg0").string();
  EXPECT_NE(traced.find("SCSI: skipping " + sg0 + ": not a SCSI generic device\n"),
            std::string::npos)
      << traced;
  if (::geteuid() != 0) {  // root opens anything
    const std::string sg1 = (folder_ / "sg1").string();
    EXPECT_NE(traced.find("SCSI: skipping " + sg1 + ": Permission denied\n"), std::string::npos)
        << traced;
  }
  EXPECT_EQ(traced.find("sgx"), std::string::npos);
}

TEST_F(SgFolder, AFolderThatCannotBeListedFailsToOpen) {
  ScopedTransport<SgTransport> transport((folder_ / "missing").string());
  EXPECT_EQ(aspi_open(false), 0);
}

TEST(SgTransport, TheMachinesOwnDevFolderOpens) {
  // Whatever this machine has, opening never fails and finds only real
  // generic devices.
  SgTransport transport;
  EXPECT_TRUE(transport.open());
  if (!std::filesystem::exists("/dev/sg0")) {
    EXPECT_EQ(transport.device_count(), 0u);
  }
}

}  // namespace
