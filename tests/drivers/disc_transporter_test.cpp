// The disc transporter: EXCHANGE MEDIUM's bytes for each operation and the
// order of one exchange step across the recorder and the transporter.
#include "drivers/disc_transporter.h"

#include <gtest/gtest.h>

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

class Transporter : public testing::Test {
 protected:
  Transporter() {
    recorder.target = 4;
    transporter.target = 5;
    transporter.lun = 1;  // byte 1 = 0x20
  }
  // Target, then the command bytes, of every command sent.
  std::vector<Bytes> sent() const {
    std::vector<Bytes> out;
    for (const cdm_test::RecordedCommand& command : transport->commands) {
      Bytes line{command.request.target};
      line.insert(line.end(), command.cdb.begin(), command.cdb.end());
      out.push_back(line);
    }
    return out;
  }

  ScopedTransport<RecordingTransport> transport;
  CdReader recorder;
  DiscTransporter transporter;
};

TEST_F(Transporter, ExchangeStepsSendTheirOperationInOrder) {
  const struct {
    uint8_t op;
    uint8_t control;
  } cases[] = {{TRANSPORTER_LOAD_FIRST, 0x40},
               {TRANSPORTER_EXCHANGE, 0x00},
               {TRANSPORTER_UNLOAD_LAST, 0xC0}};
  for (const auto& c : cases) {
    transport->commands.clear();
    EXPECT_EQ(exchange_disc(recorder, transporter, c.op), 1);
    EXPECT_EQ(sent(), std::vector<Bytes>({
                          {4, 0x00, 0, 0, 0, 0, 0},     // recorder: TEST UNIT READY
                          {4, 0x1B, 0, 0, 0, 0x02, 0},  // recorder: START/STOP UNIT, eject
                          {5, 0x00, 0x20, 0, 0, 0, 0},  // transporter: TEST UNIT READY
                          // transporter: EXCHANGE MEDIUM arm 0, source 2, destinations 1 and 3
                          {5, 0xA6, 0x20, 0, 0, 0, 2, 0, 1, 0, 3, 0, c.control},
                          {4, 0x00, 0, 0, 0, 0, 0},     // recorder: TEST UNIT READY
                          {4, 0x1B, 0, 0, 0, 0x03, 0},  // recorder: START/STOP UNIT, load
                      }))
        << "op " << int{c.op};
  }
}

TEST_F(Transporter, FailuresEndTheStepWhereTheyHappen) {
  // An unknown operation sends nothing.
  EXPECT_EQ(transporter.ExchangeMedium(3, false), MSG_BUGCHECK);
  EXPECT_TRUE(transport->commands.empty());

  // The transporter refuses: the tray stays open, the error names it.
  transport->push_reply(good_reply());
  transport->push_reply(good_reply());
  transport->push_reply(good_reply());
  transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x3B, 0x0E));
  EXPECT_EQ(raised_text([&] { exchange_disc(recorder, transporter, TRANSPORTER_EXCHANGE); }),
            "\nError: 'EXCHANGE MEDIUM' command failed on device 0:5:1\n"
            "The Disc-Transporter has no blank disc left on its input stack\n");
  EXPECT_EQ(transport->commands.size(), 4u);

  // The recorder's tray does not open: the transporter is never moved.
  transport->commands.clear();
  transport->push_reply(good_reply());
  transport->push_reply(check_reply(SENSE_KEY_HARDWARE_ERROR));
  EXPECT_EQ(raised_text([&] { exchange_disc(recorder, transporter, TRANSPORTER_LOAD_FIRST); }),
            "\nError: 'EJECT DISC' command failed on device 0:4:0\nUnrecoverable hardware error\n");
  EXPECT_EQ(transport->commands.size(), 2u);

  // A tray that does not close is left to the caller: its result comes back.
  transport->commands.clear();
  for (int i = 0; i < 5; ++i) transport->push_reply(good_reply());
  transport->push_reply(check_reply(SENSE_KEY_HARDWARE_ERROR));
  EXPECT_NE(exchange_disc(recorder, transporter, TRANSPORTER_UNLOAD_LAST), 1);
}

}  // namespace
