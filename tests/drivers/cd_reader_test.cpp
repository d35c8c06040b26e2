// The generic reader through a transport that records every command: the
// exact command bytes of the slots and plain commands, the named operations,
// the error recovery rule and the running CRC-32.
#include "drivers/cd_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/msgvec.h"
#include "support/raised.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::check_reply;
using cdm_test::good_reply;
using cdm_test::raised_text;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

class ReaderTest : public testing::Test {
 protected:
  ReaderTest() {
    reader.host_adapter = 1;
    reader.target = 4;
    reader.lun = 2;  // byte 1 = 0x40
  }
  const cdm_test::RecordedCommand& last() const { return transport->commands.back(); }

  ScopedTransport<RecordingTransport> transport;
  CdReader reader;
};

TEST_F(ReaderTest, SlotsSendTheirCommandBytes) {
  uint8_t buffer[3 * 2448] = {};
  EXPECT_EQ(reader.EjectDisc(), 1);
  EXPECT_EQ(last().cdb, Bytes({0x1B, 0x40, 0, 0, 0x02, 0}));  // START/STOP UNIT, eject
  EXPECT_EQ(reader.LoadDisc(), 1);
  EXPECT_EQ(last().cdb, Bytes({0x1B, 0x40, 0, 0, 0x03, 0}));  // START/STOP UNIT, load
  EXPECT_EQ(reader.ReadAudio(buffer, 3, 0x00012345, SUBCODE_Q), 1);
  // READ CD-DA LBA 12345h, 3 sectors, audio + Q
  EXPECT_EQ(last().cdb, Bytes({0xD8, 0x40, 0, 0x01, 0x23, 0x45, 0, 0, 0, 3, 1, 0}));
  EXPECT_EQ(last().direction(), SRB_DIR_IN);
  EXPECT_EQ(last().length(), 3u * 2368);
  reader.ReadAudio(buffer, 2, 7, SUBCODE_ALL);
  EXPECT_EQ(last().length(), 2u * 2448);
  reader.ReadAudio(buffer, 2, 7, SUBCODE_ONLY);
  EXPECT_EQ(last().length(), 2u * 96);
  reader.ReadAudio(buffer, 1, 7, SUBCODE_NONE);
  EXPECT_EQ(last().length(), 2352u);
  EXPECT_EQ(reader.ReadData(buffer, 2340, 2, 0x100), 1);
  EXPECT_EQ(last().cdb, Bytes({0x28, 0x40, 0, 0, 0x01, 0, 0, 0, 2, 0}));  // READ(10) 100h, 2 blocks
  EXPECT_EQ(last().length(), 4680u);

  const std::size_t before = transport->commands.size();
  EXPECT_EQ(reader.SetBlockLength(SECTOR_KIND_AUDIO, 2352), 1);
  EXPECT_EQ(reader.DisableErrorRecovery(), 1);
  EXPECT_EQ(reader.EnableErrorRecovery(), 1);
  EXPECT_EQ(reader.SetReadingSpeed(4), 1);
  EXPECT_EQ(reader.StartAudioRead(0, 2352), 1);
  EXPECT_EQ(reader.StopAudioRead(), 1);
  EXPECT_EQ(transport->commands.size(), before);  // none of these sends anything

  EXPECT_EQ(reader.StartDataRead(10, SECTOR_KIND_DATA, 2340), 1);
  EXPECT_EQ(last().cdb, Bytes({0x15, 0x40, 0, 0, 12, 0}));  // MODE SELECT, 12 bytes
  // header with an 8-byte block descriptor: density 0, 0 blocks, 2340 bytes
  EXPECT_EQ(last().data_out, Bytes({0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x24}));
  EXPECT_EQ(reader.StopDataRead(), 1);
  EXPECT_EQ(last().data_out, Bytes({0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0x00}));
}

TEST_F(ReaderTest, UnknownSubcodeFormatIsRefusedWithoutACommand) {
  uint8_t buffer[2448] = {};
  EXPECT_EQ(reader.ReadAudio(buffer, 1, 0, 4), MSG_BUGCHECK);
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 1, 0, 0xFF, false), MSG_BUGCHECK);
  EXPECT_TRUE(transport->commands.empty());
}

TEST_F(ReaderTest, PlainTocAndSubchannelCommands) {
  uint8_t buffer[TOC_BUFFER_LENGTH] = {};
  reader.ReadTocRaw(buffer, TOC_BUFFER_LENGTH, 0);
  EXPECT_EQ(last().cdb, Bytes({0x43, 0x40, 0, 0, 0, 0, 0, 0x03, 0x24, 0x00}));  // READ TOC, 804
  EXPECT_EQ(last().length(), 804u);
  reader.ReadTocRaw(buffer, 12, 1);
  EXPECT_EQ(last().cdb, Bytes({0x43, 0x40, 0, 0, 0, 0, 0, 0, 12, 0x40}));  // format 1 in bits 6-7
  reader.ReadSubchannelRaw(buffer, SUBCHANNEL_CATALOG, 0, true, false);
  // READ SUB-CHANNEL, SubQ, format 2, 48 bytes
  EXPECT_EQ(last().cdb, Bytes({0x42, 0x40, 0x40, 0x02, 0, 0, 0, 0, 48, 0}));
  EXPECT_EQ(last().length(), 48u);
  reader.ReadSubchannelRaw(buffer, SUBCHANNEL_ISRC, 7, false, true);
  EXPECT_EQ(last().cdb, Bytes({0x42, 0x42, 0x00, 0x03, 0, 0, 7, 0, 48, 0}));  // MSF, track 7
}

TEST_F(ReaderTest, NamedOperationsRaiseUnderTheirNames) {
  struct Case {
    const char* name;
    std::function<ResultCode(bool)> call;
  };
  uint8_t buffer[TOC_BUFFER_LENGTH] = {};
  const Case cases[] = {
      {"EJECT DISC", [&](bool raise) { return reader.EjectDiscNamed(raise); }},
      {"LOAD DISC", [&](bool raise) { return reader.LoadDiscNamed(raise); }},
      {"SET BLOCK LENGTH",
       [&](bool raise) { return reader.SetBlockLengthNamed(SECTOR_KIND_DATA, 2048, raise); }},
      {"START DATA READ",
       [&](bool raise) { return reader.StartDataReadNamed(0, SECTOR_KIND_DATA, 2048, raise); }},
      {"STOP DATA READ", [&](bool raise) { return reader.StopDataReadNamed(raise); }},
      {"READ TOC", [&](bool raise) { return reader.ReadToc(buffer, TOC_BUFFER_LENGTH, 0, raise); }},
      {"READ SUBCHANNEL",
       [&](bool raise) { return reader.ReadSubchannel(buffer, 2, 0, true, false, raise); }},
  };
  for (const Case& c : cases) {
    transport->push_reply(check_reply(SENSE_KEY_NOT_READY, 0x3A));
    EXPECT_EQ(raised_text([&] { c.call(true); }),
              std::string("\nError: '") + c.name +
                  "' command failed on device 1:4:2\nDevice is not ready\n")
        << c.name;
    transport->push_reply(check_reply(SENSE_KEY_NOT_READY, 0x3A));
    EXPECT_EQ(c.call(false), MSG_NOT_READY) << c.name;  // without raise: only the result
  }
}

// A family whose recovery slots fail, to see the state bit follow the rule.
class FailingRecoveryReader : public CdReader {
 public:
  using CdReader::DisableErrorRecovery;
  using CdReader::EnableErrorRecovery;
  ResultCode DisableErrorRecovery() override { return result; }
  ResultCode EnableErrorRecovery() override { return result; }
  ResultCode result = 1;
};

TEST_F(ReaderTest, ErrorRecoveryStateAndBadMediumRule) {
  FailingRecoveryReader family;
  family.result = MSG_ILLEGAL_REQUEST;
  EXPECT_EQ(family.DisableErrorRecoveryNamed(false), MSG_ILLEGAL_REQUEST);
  EXPECT_FALSE(family.readerCaps & CAP_RECOVERY_OFF);
  family.result = 1;
  EXPECT_EQ(family.DisableErrorRecoveryNamed(false), 1);
  EXPECT_TRUE(family.readerCaps & CAP_RECOVERY_OFF);
  family.result = MSG_ILLEGAL_REQUEST;
  EXPECT_EQ(raised_text([&] { family.EnableErrorRecoveryNamed(true); }),
            "\nError: 'ENABLE ERROR RECOVERY' command failed on device 0:0:0\n"
            "Illegal command request\n");
  EXPECT_FALSE(family.readerCaps & CAP_RECOVERY_OFF);  // cleared although it failed

  uint8_t buffer[2352] = {};
  const auto medium_error = check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11);
  transport->push_reply(medium_error);
  EXPECT_EQ(reader.ReadDataSectors(buffer, 2048, 1, 5, false), MSG_MEDIUM_ERROR);
  reader.readerCaps |= CAP_RECOVERY_OFF;
  transport->push_reply(medium_error);
  EXPECT_EQ(reader.ReadDataSectors(buffer, 2048, 1, 5, true), 1);
  transport->push_reply(medium_error);
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 1, 5, SUBCODE_NONE, true), 1);
  // Other failures still fail.
  transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x64));
  EXPECT_EQ(reader.ReadAudioSectors(buffer, 1, 5, SUBCODE_NONE, false), MSG_ILLEGAL_REQUEST);
}

TEST_F(ReaderTest, SectorReadFailuresNameTheSpan) {
  uint8_t buffer[3 * 2352] = {};
  transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11));
  EXPECT_EQ(raised_text([&] { reader.ReadDataSectors(buffer, 2048, 3, 10, true); }),
            "\nError: Unable to read DATA sectors 10 to 12 on device 1:4:2\n"
            "Bad medium detected\n");
  transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x21));
  EXPECT_EQ(raised_text([&] { reader.ReadAudioSectors(buffer, 2, 450, SUBCODE_NONE, true); }),
            "\nError: Unable to read AUDIO sectors 450 to 451 on device 1:4:2\n"
            "Illegal command request\n");
}

TEST_F(ReaderTest, RunningCrcFollowsTheDataReads) {
  const std::string check = "123456789";
  uint8_t buffer[28 * 2352] = {};
  transport->push_reply(good_reply(Bytes(check.begin(), check.end())));
  reader.ReadDataSectors(buffer, 9, 1, 0, false);
  EXPECT_EQ(reader.runningCrc, 0u);  // not without the capability

  reader.readerCaps |= CAP_COMPUTE_CRC;
  reader.runningCrc = 0xFFFFFFFF;  // the usual preset, so the check value applies
  transport->push_reply(good_reply(Bytes(check.begin(), check.end())));
  reader.ReadDataSectors(buffer, 9, 1, 0, false);
  EXPECT_EQ(reader.runningCrc ^ 0xFFFFFFFF, 0xCBF43926u);  // the CRC-32 check value

  // Split in two reads, the accumulator carries over.
  reader.runningCrc = 0xFFFFFFFF;
  transport->push_reply(good_reply(Bytes(check.begin(), check.begin() + 4)));
  reader.ReadDataSectors(buffer, 4, 1, 0, false);
  transport->push_reply(good_reply(Bytes(check.begin() + 4, check.end())));
  reader.ReadDataSectors(buffer, 5, 1, 0, false);
  EXPECT_EQ(reader.runningCrc ^ 0xFFFFFFFF, 0xCBF43926u);

  // 28 sectors of 2352 bytes are 65856 bytes, more than 16 bits count: every
  // byte counts, as when the same bytes come in three reads.
  Bytes data(sizeof buffer, 0x5A);
  for (std::size_t i = 320; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  reader.runningCrc = 0;
  transport->push_reply(good_reply(data));
  reader.ReadDataSectors(buffer, 2352, 28, 0, false);
  const uint32_t long_read = reader.runningCrc;
  reader.runningCrc = 0;
  for (const auto& [first, count] : {std::pair{0, 9}, std::pair{9, 9}, std::pair{18, 10}}) {
    transport->push_reply(
        good_reply(Bytes(data.begin() + first * 2352, data.begin() + (first + count) * 2352)));
    reader.ReadDataSectors(buffer, 2352, static_cast<uint16_t>(count), 0, false);
  }
  EXPECT_EQ(long_read, reader.runningCrc);
  reader.runningCrc = 0;
  transport->push_reply(good_reply(Bytes(320, 0x5A)));
  reader.ReadDataSectors(buffer, 320, 1, 0, false);
  EXPECT_NE(long_read, reader.runningCrc);  // not the first 320 bytes alone

  // A failed read leaves the accumulator alone.
  const uint32_t before = reader.runningCrc;
  transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11));
  reader.ReadDataSectors(buffer, 320, 1, 0, false);
  EXPECT_EQ(before, reader.runningCrc);
}

TEST_F(ReaderTest, TransferSizesAndSpansAtTheirLimits) {
  uint8_t byte = 0;
  // 1826091 sectors of 2352 bytes are 4294966032 bytes and go out; one more
  // sector would pass 4 GiB and is refused without a command.
  EXPECT_EQ(reader.ReadAudio(&byte, 1826091, 0, SUBCODE_NONE), 1);
  EXPECT_EQ(last().cdb, Bytes({0xD8, 0x40, 0, 0, 0, 0, 0x00, 0x1B, 0xDD, 0x2B, 0, 0}));
  EXPECT_EQ(last().length(), 4294966032u);
  EXPECT_EQ(reader.ReadAudio(&byte, 1826092, 0, SUBCODE_NONE), MSG_BUGCHECK);
  EXPECT_EQ(reader.ReadAudio(&byte, 0xFFFFFFFF, 0, SUBCODE_ALL), MSG_BUGCHECK);
  EXPECT_EQ(reader.ReadRaw(&byte, 65537, 65535, 0, 0), 1);  // 4294967295 bytes
  EXPECT_EQ(last().length(), 4294967295u);
  EXPECT_EQ(reader.ReadRaw(&byte, 65538, 65535, 0, 0), MSG_BUGCHECK);
  EXPECT_EQ(reader.WriteRaw(&byte, 0xFFFFFFFF, 2, 0, 0), MSG_BUGCHECK);
  EXPECT_EQ(transport->commands.size(), 2u);

  // The span of a failed read: a count of 0 names its one address, and the
  // last address stops at the top of 32 bits.
  transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11));
  EXPECT_EQ(raised_text([&] { reader.ReadDataSectors(&byte, 2048, 0, 0, true); }),
            "\nError: Unable to read DATA sectors 0 to 0 on device 1:4:2\nBad medium detected\n");
  transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11));
  EXPECT_EQ(
      raised_text([&] { reader.ReadAudioSectors(&byte, 0x20, 0xFFFFFFF0, SUBCODE_NONE, true); }),
      "\nError: Unable to read AUDIO sectors 4294967280 to 4294967295 on device 1:4:2\n"
      "Bad medium detected\n");
  EXPECT_EQ(last_sector(7, 0), 7u);
  EXPECT_EQ(last_sector(7, 1), 7u);
  EXPECT_EQ(last_sector(0xFFFFFFFF, 1), 0xFFFFFFFFu);
  EXPECT_EQ(last_sector(1, 0xFFFFFFFF), 0xFFFFFFFFu);
}

TEST(ReaderCaps, ReportPrintsFiveLines) {
  EXPECT_EQ(reader_caps_report(CAP_READ_CDDA | CAP_READ_CDG | CAP_COMPUTE_CRC | CAP_RECOVERY_OFF),
            "Read CDDA      = 1\nRead SUBQ      = 0\nRead CDG       = 1\n"
            "Jitter Correct = 0\nCompute CRC    = 1\n");
}

}  // namespace
