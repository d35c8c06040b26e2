// The reader families through a transport that records every command: the
// leaf each model code gets with its values, and the exact command bytes of
// the slots each family overrides.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "common/msgvec.h"
#include "drivers/cd_reader.h"
#include "drivers/driver_factory.h"
#include "drivers/nec_reader.h"
#include "drivers/pioneer_reader.h"
#include "drivers/plextor_reader.h"
#include "drivers/sony_reader.h"
#include "drivers/toshiba_reader.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::check_reply;
using cdm_test::good_reply;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using cdm_test::ScriptedReply;
using Bytes = std::vector<uint8_t>;

std::unique_ptr<CdReader> reader_for(uint8_t model_code) {
  std::unique_ptr<ScsiDevice> device = create_driver(model_code);
  auto* reader = dynamic_cast<CdReader*>(device.get());
  if (reader == nullptr) return nullptr;
  device.release();
  std::unique_ptr<CdReader> owned(reader);
  owned->lun = 1;  // byte 1 = 0x20
  return owned;
}

// The generic reader itself, or a leaf of the family (never the family class).
bool generic(const CdReader& r) { return typeid(r) == typeid(CdReader); }
template <typename Family>
bool leaf_of(const CdReader& r) {
  return dynamic_cast<const Family*>(&r) != nullptr && typeid(r) != typeid(Family);
}

TEST(ReaderFamilies, EachModelCodeGetsItsFamilyAndValues) {
  struct Row {
    uint8_t code;
    bool (*family)(const CdReader&);
    uint16_t caps;
    uint16_t block;
    uint8_t recorder_speed;
    uint8_t read_speed;
  };
  // clang-format off
  const Row rows[] = {
      {1,  generic,                 0x07, 2352, 1, 1},
      {5,  generic,                 0x07, 2352, 1, 1},
      {21, leaf_of<NecReader>,      0x11, 2340, 1, 0},
      {22, leaf_of<NecReader>,      0x11, 2340, 2, 0},
      {23, leaf_of<NecReader>,      0x11, 2352, 3, 0},
      {24, leaf_of<NecReader>,      0x11, 2352, 4, 0},
      {25, leaf_of<PioneerReader>,  0x03, 2340, 2, 2},
      {26, leaf_of<PioneerReader>,  0x03, 2340, 5, 5},
      {27, leaf_of<PlextorReader>,  0x07, 2352, 2, 2},
      {28, leaf_of<PlextorReader>,  0x07, 2352, 3, 3},
      {29, leaf_of<PlextorReader>,  0x07, 2352, 4, 4},
      {30, leaf_of<PlextorReader>,  0x07, 2352, 6, 4},
      {31, leaf_of<SonyReader>,     0x07, 2352, 1, 1},
      {32, leaf_of<SonyReader>,     0x07, 2352, 2, 2},
      {33, leaf_of<ToshibaReader>,  0x13, 2352, 1, 0},
      {34, leaf_of<ToshibaReader>,  0x13, 2352, 2, 0},
      {35, leaf_of<ToshibaReader>,  0x13, 2352, 3, 0},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.code));
    const std::unique_ptr<CdReader> reader = reader_for(row.code);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(row.family(*reader));
    EXPECT_EQ(reader->readerCaps, row.caps);
    EXPECT_EQ(reader->defaultBlockLength, row.block);
    EXPECT_EQ(reader->maxRecorderReadSpeed, row.recorder_speed);
    EXPECT_EQ(reader->maxReadSpeed, row.read_speed);
  }
}

struct Sent {
  Bytes cdb;
  Bytes data_out;
  uint32_t length;
};

struct SlotCase {
  const char* name;
  uint8_t model_code;
  std::function<ResultCode(CdReader&)> call;
  std::vector<ScriptedReply> replies;
  ResultCode result;
  std::vector<Sent> sent;
};

// MODE SENSE answer of a NEC drive: header, block descriptor (density 0,
// 2048 bytes) and the error recovery page (retry count 5).
const Bytes NEC_SENSE = {0x13, 0x01, 0x80, 0x08, 0,    0,    0, 0, 0, 0,
                         0x08, 0x00, 0x01, 0x06, 0x04, 0x05, 0, 0, 0, 0};

uint8_t buffer[4 * 2448];

TEST(ReaderFamilies, OverriddenSlotsSendTheirFamilysCommands) {
  // clang-format off
  const SlotCase cases[] = {
      {"Plextor 30, index 6 lowered to its maximum 4", 30,
       [](CdReader& r) { return r.SetReadingSpeed(6); }, {}, 1,
       // MODE SELECT, page format, 8 bytes: page 31h, speed value 04h
       {{{0x15, 0x30, 0, 0, 8, 0}, {0, 0, 0, 0, 0x31, 0x02, 0x04, 0}, 8}}},
      {"Plextor 27, index 1", 27, [](CdReader& r) { return r.SetReadingSpeed(1); }, {}, 1,
       {{{0x15, 0x30, 0, 0, 8, 0}, {0, 0, 0, 0, 0x31, 0x02, 0x01, 0}, 8}}},
      {"Plextor, error recovery off", 28, [](CdReader& r) { return r.DisableErrorRecovery(); }, {}, 1,
       // MODE SELECT, page format, 12 bytes: page 01h, TB PER DTE, 3 retries
       {{{0x15, 0x30, 0, 0, 12, 0}, {0, 0, 0, 0, 0x01, 0x06, 0x26, 0x03, 0, 0, 0, 0}, 12}}},
      {"Plextor, error recovery on", 28, [](CdReader& r) { return r.EnableErrorRecovery(); }, {}, 1,
       {{{0x15, 0x30, 0, 0, 12, 0}, {0, 0, 0, 0, 0x01, 0x06, 0x00, 0x03, 0, 0, 0, 0}, 12}}},
      {"Sony 31, index 2 lowered to 1", 31, [](CdReader& r) { return r.SetReadingSpeed(2); }, {}, 1,
       {{{0x15, 0x30, 0, 0, 8, 0}, {0, 0, 0, 0, 0x31, 0x02, 0x01, 0}, 8}}},
      {"Sony 32, index 2", 32, [](CdReader& r) { return r.SetReadingSpeed(2); }, {}, 1,
       {{{0x15, 0x30, 0, 0, 8, 0}, {0, 0, 0, 0, 0x31, 0x02, 0xFF, 0}, 8}}},
      // MODE SELECT, 12 bytes: a block descriptor with the density and length
      {"Toshiba data, 2340 bytes: density 00h", 33,
       [](CdReader& r) { return r.SetBlockLength(1, 2340); }, {}, 1,
       {{{0x15, 0x20, 0, 0, 12, 0}, {0, 0, 0, 8, 0x00, 0, 0, 0, 0, 0, 0x09, 0x24}, 12}}},
      {"Toshiba data, 2048 bytes: density 83h", 34,
       [](CdReader& r) { return r.StopDataRead(); }, {}, 1,
       {{{0x15, 0x20, 0, 0, 12, 0}, {0, 0, 0, 8, 0x83, 0, 0, 0, 0, 0, 0x08, 0x00}, 12}}},
      {"Toshiba audio start: density 82h", 35,
       [](CdReader& r) { return r.StartAudioRead(0, 2368); }, {}, 1,
       {{{0x15, 0x20, 0, 0, 12, 0}, {0, 0, 0, 8, 0x82, 0, 0, 0, 0, 0, 0x09, 0x40}, 12}}},
      {"Toshiba audio stop: back to 2048-byte data", 33,
       [](CdReader& r) { return r.StopAudioRead(); }, {}, 1,
       {{{0x15, 0x20, 0, 0, 12, 0}, {0, 0, 0, 8, 0x83, 0, 0, 0, 0, 0, 0x08, 0x00}, 12}}},
      {"Toshiba kind 2: density 81h", 33,
       [](CdReader& r) { return r.StartDataRead(0, 2, 2336); }, {}, 1,
       {{{0x15, 0x20, 0, 0, 12, 0}, {0, 0, 0, 8, 0x81, 0, 0, 0, 0, 0, 0x09, 0x20}, 12}}},
      {"Toshiba kind 3", 33, [](CdReader& r) { return r.SetBlockLength(3, 2048); }, {},
       MSG_BUGCHECK, {}},
      {"Toshiba speed", 33, [](CdReader& r) { return r.SetReadingSpeed(1); }, {}, 1, {}},
      {"Toshiba audio with Q: 2368 bytes a sector are asked for", 33,
       [](CdReader& r) { return r.ReadAudio(buffer, 3, 0x1234, SUBCODE_Q); }, {}, 1,
       {{{0x28, 0x20, 0, 0, 0x12, 0x34, 0, 0, 3, 0}, {}, 3 * 2368}}},  // READ(10) 3 blocks
      {"Toshiba audio", 33, [](CdReader& r) { return r.ReadAudio(buffer, 2, 7, SUBCODE_NONE); },
       {}, 1, {{{0x28, 0x20, 0, 0, 0, 7, 0, 0, 2, 0}, {}, 2 * 2352}}},
      {"Toshiba subcode only: more than the buffer holds", 33,
       [](CdReader& r) { return r.ReadAudio(buffer, 2, 7, SUBCODE_ONLY); }, {}, MSG_BUGCHECK, {}},
      {"NEC audio with Q: still 2352 bytes a sector", 21,
       [](CdReader& r) { return r.ReadAudio(buffer, 3, 0x012345, SUBCODE_Q); }, {}, 1,
       // READ CD-DA D4h, LBA 12345h, 3 sectors
       {{{0xD4, 0x20, 0, 0x01, 0x23, 0x45, 0, 0, 3, 0}, {}, 3 * 2352}}},
      {"NEC subcode only: more than the buffer holds", 22,
       [](CdReader& r) { return r.ReadAudio(buffer, 2, 7, SUBCODE_ONLY); }, {}, MSG_BUGCHECK, {}},
      {"NEC audio kind: nothing sent", 23, [](CdReader& r) { return r.SetBlockLength(0, 2352); },
       {}, 1, {}},
      {"NEC block length through the error recovery page", 24,
       [](CdReader& r) { return r.StartDataRead(0, 1, 2340); }, {good_reply(NEC_SENSE)}, 1,
       {{{0x1A, 0x20, 0x01, 0, 20, 0}, {}, 20},  // MODE SENSE page 01h, 20 bytes
        // MODE SELECT, page format, 20 bytes: header cleared, 2340, 3 retries
        {{0x15, 0x30, 0, 0, 20, 0},
         {0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0x09, 0x24, 0x01, 0x06, 0x04, 0x03, 0, 0, 0, 0}, 20}}},
      {"NEC failing MODE SENSE: no MODE SELECT", 21,
       [](CdReader& r) { return r.SetBlockLength(1, 2048); },
       {check_reply(SENSE_KEY_NOT_READY, 0x3A)}, MSG_NOT_READY,
       {{{0x1A, 0x20, 0x01, 0, 20, 0}, {}, 20}}},
  };
  // clang-format on
  for (const SlotCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTransport<RecordingTransport> transport;
    for (const ScriptedReply& reply : c.replies) transport->push_reply(reply);
    const std::unique_ptr<CdReader> reader = reader_for(c.model_code);
    EXPECT_EQ(c.call(*reader), c.result);
    ASSERT_EQ(transport->commands.size(), c.sent.size());
    for (std::size_t i = 0; i < c.sent.size(); ++i) {
      EXPECT_EQ(transport->commands[i].cdb, c.sent[i].cdb) << i;
      EXPECT_EQ(transport->commands[i].data_out, c.sent[i].data_out) << i;
      EXPECT_EQ(transport->commands[i].length(), c.sent[i].length) << i;
    }
  }
}

// The 16 bytes behind each 2368-byte sector come from the drive as control,
// ADR, track, index, relative and absolute M:S:F and leave in the standard Q
// layout; the audio is untouched.
TEST(ReaderFamilies, ToshibaQIsRewrittenIntoTheStandardLayout) {
  ScopedTransport<RecordingTransport> transport;
  Bytes delivered(2 * 2368, 0x5A);
  const Bytes drive_q[2] = {{0x04, 0x01, 0x02, 0x01, 0x00, 0x01, 0x74, 0x03, 0x15, 0x02, 0xEE, 0xEE,
                             0xEE, 0xEE, 0xEE, 0xEE},
                            {0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x33, 0xEE, 0xEE,
                             0xEE, 0xEE, 0xEE, 0xEE}};
  const Bytes standard_q[2] = {
      {0x41, 0x02, 0x01, 0x00, 0x01, 0x74, 0x00, 0x03, 0x15, 0x02, 0, 0, 0, 0, 0, 0},
      {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x33, 0, 0, 0, 0, 0, 0}};
  for (int i = 0; i < 2; ++i)
    std::copy(drive_q[i].begin(), drive_q[i].end(), delivered.begin() + i * 2368 + 2352);
  transport->push_reply(good_reply(delivered));
  Bytes out(2 * 2368);
  EXPECT_EQ(reader_for(34)->ReadAudio(out.data(), 2, 0, SUBCODE_Q), 1);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Bytes(out.begin() + i * 2368, out.begin() + i * 2368 + 2352), Bytes(2352, 0x5A));
    EXPECT_EQ(Bytes(out.begin() + i * 2368 + 2352, out.begin() + (i + 1) * 2368), standard_q[i]);
  }
}

}  // namespace
