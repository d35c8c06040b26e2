#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/console.h"
#include "common/msgvec.h"
#include "scsi/device.h"
#include "support/raised.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::raised_text;

using cdm_test::check_reply;
using cdm_test::good_reply;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using cdm_test::ScriptedReply;
using cdm_test::SleepRecorder;
using Bytes = std::vector<uint8_t>;

class CommandBytes : public testing::Test {
 protected:
  const cdm_test::RecordedCommand& last() const { return transport->commands.back(); }

  ScopedTransport<RecordingTransport> transport;
  ScsiDevice device{1, 4, 2};  // LUN 2 -> byte 1 = 0x40
};

TEST_F(CommandBytes, ExecuteFillsAZeroedRequest) {
  EXPECT_EQ(device.TestUnitReadyRaw(), 1);
  const ScsiRequest& request = last().request;
  EXPECT_EQ(request.command_code, SC_EXEC_SCSI_CMD);
  EXPECT_EQ(request.host_adapter, 1);
  EXPECT_EQ(request.target, 4);
  EXPECT_EQ(request.lun, 2);
  // No data: no buffer, no length, direction 0 plus event notification.
  EXPECT_EQ(request.flags, SRB_EVENT_NOTIFY);
  EXPECT_EQ(request.buffer, nullptr);
  EXPECT_EQ(request.buffer_length, 0u);
  EXPECT_EQ(request.sense_length, SENSE_LENGTH);
  EXPECT_EQ(request.cdb_length, 6);
  EXPECT_EQ(Bytes(request.cdb, request.cdb + 16),
            Bytes({0x00, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(request.srb_status, SS_PENDING);
}

TEST_F(CommandBytes, SixByteCommands) {
  uint8_t buffer[255] = {};
  device.RezeroUnit(true);
  EXPECT_EQ(last().cdb, Bytes({0x01, 0x40, 0, 0, 0, 0}));  // REZERO UNIT
  device.ModeSelect(buffer, 20, true, true);
  EXPECT_EQ(last().cdb, Bytes({0x15, 0x50, 0, 0, 20, 0}));  // MODE SELECT, PF, 20 bytes
  EXPECT_EQ(last().direction(), SRB_DIR_OUT);
  EXPECT_EQ(last().length(), 20u);
  device.ModeSelectRaw(buffer, 12, false);
  EXPECT_EQ(last().cdb, Bytes({0x15, 0x40, 0, 0, 12, 0}));  // MODE SELECT without PF
  device.ModeSense(buffer, 0xFC, 0x2A, 2, true);
  EXPECT_EQ(last().cdb, Bytes({0x1A, 0x40, 0xAA, 0, 0xFC, 0}));  // MODE SENSE page 2Ah, defaults
  EXPECT_EQ(last().direction(), SRB_DIR_IN);
  EXPECT_EQ(last().length(), 0xFCu);
  device.StartStopUnit(false, true, true);
  EXPECT_EQ(last().cdb, Bytes({0x1B, 0x40, 0, 0, 0x02, 0}));  // START/STOP UNIT eject
  device.StartStopUnitRaw(true, true);
  EXPECT_EQ(last().cdb, Bytes({0x1B, 0x40, 0, 0, 0x03, 0}));  // START/STOP UNIT load
  device.StartStopUnitRaw(true, false);
  EXPECT_EQ(last().cdb, Bytes({0x1B, 0x40, 0, 0, 0x01, 0}));  // START/STOP UNIT start
  EXPECT_EQ(last().direction(), SRB_DIR_NONE);
}

TEST_F(CommandBytes, InquiryIsAddressedAndKeepsItsSense) {
  uint8_t data[INQUIRY_LENGTH] = {};
  transport->push_reply(good_reply({0x05, 0x80}));
  EXPECT_EQ(ScsiDevice::Inquiry(2, 6, 3, data, nullptr, true), 1);
  EXPECT_EQ(last().cdb, Bytes({0x12, 0x60, 0, 0, 104, 0}));  // INQUIRY, LUN 3
  EXPECT_EQ(last().request.host_adapter, 2);
  EXPECT_EQ(last().request.target, 6);
  EXPECT_EQ(last().length(), 104u);
  EXPECT_EQ(data[0], 0x05);

  uint8_t sense[SENSE_LENGTH] = {};
  transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x25));
  EXPECT_EQ(ScsiDevice::Inquiry(0, 1, 7, data, sense, false), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(sense[2], SENSE_KEY_ILLEGAL_REQUEST);
  EXPECT_EQ(sense[12], 0x25);

  transport->push_reply(check_reply(SENSE_KEY_NOT_READY));
  EXPECT_EQ(raised_text([&] { ScsiDevice::Inquiry(0, 1, 7, data, nullptr, true); }),
            "\nError: 'INQUIRY' command failed on device 0:1:7\nDevice is not ready\n");
}

TEST_F(CommandBytes, ReadCapacityConvertsBothFields) {
  transport->push_reply(good_reply({0x00, 0x04, 0x93, 0xE0, 0x00, 0x00, 0x09, 0x30}));
  uint32_t last_lba = 0, block_length = 0;
  EXPECT_EQ(device.ReadCapacity(&last_lba, &block_length, true), 1);
  EXPECT_EQ(last().cdb, Bytes({0x25, 0x40, 0, 0, 0, 0, 0, 0, 0, 0}));  // READ CAPACITY
  EXPECT_EQ(last().length(), 8u);
  EXPECT_EQ(last_lba, 300000u);
  EXPECT_EQ(block_length, 2352u);
  transport->push_reply(good_reply({0, 0, 0x01, 0x00, 0, 0, 0x08, 0}));
  EXPECT_EQ(device.ReadCapacityRaw(nullptr, &block_length), 1);
  EXPECT_EQ(block_length, 2048u);
  EXPECT_EQ(device.ReadCapacityRaw(&last_lba, nullptr), 1);
}

TEST_F(CommandBytes, ReadAndWriteTen) {
  std::vector<uint8_t> buffer(3 * 2352);
  device.ReadRaw(buffer.data(), 2352, 3, 0x01020304, 2);
  // READ(10) LBA 01020304h, 3 blocks, vendor bits 2
  EXPECT_EQ(last().cdb, Bytes({0x28, 0x40, 0x01, 0x02, 0x03, 0x04, 0, 0x00, 0x03, 0x80}));
  EXPECT_EQ(last().direction(), SRB_DIR_IN);
  EXPECT_EQ(last().length(), 3u * 2352u);
  device.Read(buffer.data(), 2048, 0x0102, 16, true);
  // READ(10) LBA 16, 258 blocks, vendor bits 0
  EXPECT_EQ(last().cdb, Bytes({0x28, 0x40, 0, 0, 0, 16, 0, 0x01, 0x02, 0x00}));
  device.Read(buffer.data(), 2048, 0, 16, true);
  EXPECT_EQ(last().length(), 0u);  // READ of 0 blocks moves no data

  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
  device.WriteRaw(buffer.data(), 2352, 2, 150, 3);
  // WRITE(10) LBA 150, 2 blocks, vendor bits 3
  EXPECT_EQ(last().cdb, Bytes({0x2A, 0x40, 0, 0, 0, 150, 0, 0, 2, 0xC0}));
  EXPECT_EQ(last().direction(), SRB_DIR_OUT);
  EXPECT_EQ(last().data_out, Bytes(buffer.begin(), buffer.begin() + 2 * 2352));
  device.Write(buffer.data(), 2048, 1, 0xFFFFFFFF, true);
  EXPECT_EQ(last().cdb, Bytes({0x2A, 0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0x00}));
}

TEST_F(CommandBytes, TenAndTwelveByteCommandsWithoutData) {
  device.SynchronizeCache(true);
  EXPECT_EQ(last().cdb, Bytes({0x35, 0x40, 0, 0, 0, 0, 0, 0, 0, 0}));  // SYNCHRONIZE CACHE
  device.SetLimits(0x11223344, 0x55667788, true);
  // SET LIMITS(12) two 32-bit fields
  EXPECT_EQ(last().cdb, Bytes({0xB3, 0x40, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0, 0}));
  device.ExchangeMediumRaw(0, 2, 1, 3, false, false, 1);
  // EXCHANGE MEDIUM 0, 2, 1, 3, control 40h
  EXPECT_EQ(last().cdb, Bytes({0xA6, 0x40, 0, 0, 0, 2, 0, 1, 0, 3, 0x00, 0x40}));
  device.ExchangeMediumRaw(0x1234, 0x5678, 0x9ABC, 0xDEF0, true, true, 3);
  EXPECT_EQ(last().cdb,
            Bytes({0xA6, 0x40, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x03, 0xC0}));
  EXPECT_EQ(last().direction(), SRB_DIR_NONE);
}

TEST_F(CommandBytes, ModeSelectParameterLists) {
  device.SetErrorRecovery(0x21, 5, true);
  EXPECT_EQ(last().cdb, Bytes({0x15, 0x50, 0, 0, 12, 0}));  // MODE SELECT, PF, 12 bytes
  // header without block descriptor, page 01h of 6 bytes: flags 21h, 5 retries
  EXPECT_EQ(last().data_out, Bytes({0, 0, 0, 0, 0x01, 6, 0x21, 5, 0, 0, 0, 0}));
  device.SelectBlockDescriptor(0x82, 2352, 0x123456, true);
  EXPECT_EQ(last().cdb, Bytes({0x15, 0x40, 0, 0, 12, 0}));  // MODE SELECT, no PF, 12 bytes
  // block descriptor: density 82h, 123456h blocks of 2352 bytes
  EXPECT_EQ(last().data_out, Bytes({0, 0, 0, 8, 0x82, 0x12, 0x34, 0x56, 0, 0x00, 0x09, 0x30}));
}

TEST_F(CommandBytes, NamedFormsRaiseUnderTheirNames) {
  const struct {
    const char* name;
    std::function<ResultCode(ScsiDevice&)> call;
  } commands[] = {
      {"REZERO UNIT", [](ScsiDevice& d) { return d.RezeroUnit(true); }},
      {"MODE SENSE",
       [](ScsiDevice& d) {
         uint8_t b[4];
         return d.ModeSense(b, 4, 0, 0, true);
       }},
      {"START/STOP UNIT", [](ScsiDevice& d) { return d.StartStopUnit(true, false, true); }},
      {"READ CAPACITY", [](ScsiDevice& d) { return d.ReadCapacity(nullptr, nullptr, true); }},
      {"READ",
       [](ScsiDevice& d) {
         uint8_t b[1];
         return d.Read(b, 1, 1, 0, true);
       }},
      {"WRITE",
       [](ScsiDevice& d) {
         uint8_t b[1];
         return d.Write(b, 1, 1, 0, true);
       }},
      {"SYNCHRONIZE CACHE", [](ScsiDevice& d) { return d.SynchronizeCache(true); }},
      {"SET LIMITS", [](ScsiDevice& d) { return d.SetLimits(0, 0, true); }},
      {"SET ERROR RECOVERY", [](ScsiDevice& d) { return d.SetErrorRecovery(0, 0, true); }},
      {"MODE SELECT", [](ScsiDevice& d) { return d.SelectBlockDescriptor(0, 2048, 0, true); }},
  };
  for (const auto& command : commands) {
    transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR));
    EXPECT_EQ(raised_text([&] { command.call(device); }), std::string("\nError: '") + command.name +
                                                              "' command failed on device 1:4:2\n"
                                                              "Bad medium detected\n");
    // Without raise the result comes back.
    transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR));
    EXPECT_EQ(device.CheckNamed(device.SynchronizeCacheRaw(), command.name, false),
              MSG_MEDIUM_ERROR);
  }
}

TEST_F(CommandBytes, LastSenseKeepsTheMostRecentFailure) {
  transport->push_reply(check_reply(SENSE_KEY_RECOVERED_ERROR, 0x17, 0x01));
  EXPECT_EQ(device.SynchronizeCacheRaw(), 1);  // recovered: success, sense still kept
  EXPECT_EQ(device.last_sense[12], 0x17);
  EXPECT_EQ(device.SynchronizeCacheRaw(), 1);  // a clean success leaves it
  EXPECT_EQ(device.last_sense[12], 0x17);
  transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x24));
  EXPECT_EQ(device.SynchronizeCacheRaw(), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(device.last_sense[2], SENSE_KEY_ILLEGAL_REQUEST);
  EXPECT_EQ(device.last_sense[12], 0x24);
}

TEST_F(CommandBytes, ARequestThatNeverCompletesGivesZeroAndOneLine) {
  transport->responder = [](ScsiRequest&) {};  // leaves the request pending
  EXPECT_EQ(device.SynchronizeCacheRaw(), 0);
  EXPECT_EQ(raised_text([&] { device.SynchronizeCache(true); }),
            "\nError: 'SYNCHRONIZE CACHE' command failed on device 1:4:2\n");
}

TEST_F(CommandBytes, ResetSendsNothing) {
  EXPECT_EQ(device.Reset(), 1);
  EXPECT_TRUE(transport->commands.empty());
}

class TestUnitReadyRetries : public CommandBytes {
 protected:
  SleepRecorder sleeps;
};

TEST_F(TestUnitReadyRetries, UnitAttentionOncePausesOnce) {
  transport->push_reply(check_reply(SENSE_KEY_UNIT_ATTENTION, 0x29));
  EXPECT_EQ(device.TestUnitReady(true), 1);
  EXPECT_EQ(transport->commands.size(), 2u);
  EXPECT_EQ(sleeps.pauses, std::vector<unsigned>({1000}));
  EXPECT_EQ(transport->commands[0].cdb, Bytes({0x00, 0x40, 0, 0, 0, 0}));  // TEST UNIT READY
}

TEST_F(TestUnitReadyRetries, NotReadyThroughoutTakesThreeTriesAndPausesOnlyBetweenThem) {
  transport->push_replies(3, check_reply(SENSE_KEY_NOT_READY, 0x04, 0x01));
  EXPECT_EQ(raised_text([&] { device.TestUnitReady(true); }),
            "\nError: 'TEST UNIT READY' command failed on device 1:4:2\nDevice is not ready\n");
  EXPECT_EQ(transport->commands.size(), 3u);
  EXPECT_EQ(sleeps.pauses, std::vector<unsigned>({1000, 1000}));  // none after the last try
}

TEST_F(TestUnitReadyRetries, BusyIsWaitedOutLikeNotReady) {
  ScriptedReply busy;
  busy.srb_status = SS_ERR;
  busy.target_status = STATUS_BUSY;
  transport->push_reply(busy);
  EXPECT_EQ(device.TestUnitReady(true), 1);
  EXPECT_EQ(transport->commands.size(), 2u);
  EXPECT_EQ(sleeps.pauses, std::vector<unsigned>({1000}));
  transport->push_replies(3, busy);
  EXPECT_EQ(raised_text([&] { device.TestUnitReady(true); }),
            "\nError: 'TEST UNIT READY' command failed on device 1:4:2\nTarget is busy\n");
  EXPECT_EQ(transport->commands.size(), 5u);
}

TEST_F(TestUnitReadyRetries, OtherFailuresEndAtOnce) {
  transport->push_reply(check_reply(SENSE_KEY_HARDWARE_ERROR));
  EXPECT_EQ(device.TestUnitReady(false), MSG_HARDWARE_ERROR);
  transport->push_reply(check_reply(SENSE_KEY_NOT_READY));
  EXPECT_EQ(device.TestUnitReadyRaw(), MSG_NOT_READY);  // the raw form does not retry
  EXPECT_EQ(transport->commands.size(), 2u);
  EXPECT_TRUE(sleeps.pauses.empty());
}

// A device that sends less than asked: 20 bytes of 0x11.
class ShortTransfers : public CommandBytes {
 protected:
  ShortTransfers() {
    transport->responder = [](ScsiRequest& request) {
      request.srb_status = SS_COMP;
      request.transferred = std::min<uint32_t>(20, request.buffer_length);
      if (request.direction() == SRB_DIR_IN) std::fill_n(request.buffer, request.transferred, 0x11);
    };
  }
};

TEST_F(ShortTransfers, CommandsWithAnAllocationLengthTakeTheShortAnswerZeroFilled) {
  uint8_t buffer[INQUIRY_LENGTH];
  std::fill_n(buffer, sizeof buffer, 0xEE);  // stale bytes of an earlier answer
  uint32_t moved = 0;
  EXPECT_EQ(device.ModeSense(buffer, 30, 0x3F, 0, true, &moved), 1);
  EXPECT_EQ(moved, 20u);
  Bytes expected(30, 0);
  std::fill_n(expected.begin(), 20, 0x11);
  expected.resize(INQUIRY_LENGTH, 0xEE);  // past the allocation length nothing changes
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), expected);

  std::fill_n(buffer, sizeof buffer, 0xEE);
  EXPECT_EQ(ScsiDevice::Inquiry(1, 4, 2, buffer, nullptr, true), 1);
  expected.assign(INQUIRY_LENGTH, 0);
  std::fill_n(expected.begin(), 20, 0x11);
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), expected);
}

TEST_F(ShortTransfers, OtherCommandsFailAndKeepNoStaleBytes) {
  uint8_t buffer[2048];
  std::fill_n(buffer, sizeof buffer, 0xEE);
  EXPECT_EQ(raised_text([&] { device.Read(buffer, 2048, 1, 16, true); }),
            "\nError: 'READ' command failed on device 1:4:2\nData overrun/underrun detected\n");
  Bytes expected(sizeof buffer, 0);
  std::fill_n(expected.begin(), 20, 0x11);
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), expected);
  uint32_t last_lba = 0;
  EXPECT_EQ(device.ReadCapacity(&last_lba, nullptr, false), 1);  // 8 bytes all came
  EXPECT_EQ(device.Write(buffer, 2048, 1, 16, false), MSG_DATA_OVERRUN);
  // Execute with a count to report takes the short transfer.
  const uint8_t cdb[10] = {0x28, 0x40};
  uint32_t moved = 99;
  EXPECT_EQ(device.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, 2048, &moved), 1);
  EXPECT_EQ(moved, 20u);
  // No transport at all moves nothing.
  auto previous = install_scsi_transport(nullptr);
  std::fill_n(buffer, sizeof buffer, 0xEE);
  EXPECT_EQ(device.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, 2048, &moved), 0);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), Bytes(sizeof buffer, 0));
  install_scsi_transport(std::move(previous));
}

}  // namespace
