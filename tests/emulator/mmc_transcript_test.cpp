// Transcripts of the MMC recorder's speed and blanking commands: a scenario, a
// driver call and the exchanges it makes, written from the command set. Each
// is replayed twice: against the driver alone, the transcript's answers
// scripted (the driver must send exactly its command blocks and make the
// same of the answers), and against the emulated recorder, which must answer
// as the transcript says a drive does.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "drivers/mmc_drive.h"
#include "emulator/bus.h"
#include "emulator/clock.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using cdm_test::ScriptedReply;
using Bytes = std::vector<uint8_t>;

// One command and its answer: the status GOOD, or CHECK CONDITION with the
// sense key, code and qualifier (and the progress of a NOT READY answer).
struct Exchange {
  Bytes cdb;
  Bytes data_in;
  uint8_t key = 0, asc = 0, ascq = 0;
  bool check = false;
  std::optional<uint16_t> progress =
      std::nullopt;  // the sense data's progress indication, when valid
};

Exchange good(Bytes cdb, Bytes data_in = {}) { return {std::move(cdb), std::move(data_in)}; }
Exchange check(Bytes cdb, uint8_t key, uint8_t asc, uint8_t ascq) {
  return {std::move(cdb), {}, key, asc, ascq, true};
}
// NOT READY, operation in progress (04h/07h), `progress` of 65536 done.
Exchange in_progress(Bytes cdb, uint16_t progress) {
  Exchange e = check(std::move(cdb), 2, 0x04, 0x07);
  e.progress = progress;
  return e;
}

// What the driver call made of its answers, as text.
using Call = std::function<std::string(MmcRecorder&)>;

// A transport that keeps every exchange after it ran on the emulated bus.
class TranscriptTransport : public ScsiTransport {
 public:
  explicit TranscriptTransport(std::unique_ptr<ScsiTransport> inner) : inner_(std::move(inner)) {}
  bool open() override { return inner_->open(); }
  uint8_t adapter_count() const override { return inner_->adapter_count(); }
  void execute(ScsiRequest& request) override {
    inner_->execute(request);
    Exchange seen;
    seen.cdb.assign(request.cdb, request.cdb + request.cdb_length);
    if (request.direction() == SRB_DIR_IN && request.buffer != nullptr)
      seen.data_in.assign(request.buffer, request.buffer + request.transferred);
    seen.check = request.target_status == STATUS_CHECK_CONDITION;
    if (seen.check) {
      seen.key = request.sense_area[2] & 0x0F;
      seen.asc = request.sense_area[12];
      seen.ascq = request.sense_area[13];
      if (request.sense_area[15] & 0x80)
        seen.progress = static_cast<uint16_t>(get_be16(request.sense_area + 16));
    }
    if (recording) exchanges.push_back(seen);
  }
  std::vector<Exchange> exchanges;
  bool recording = false;

 private:
  std::unique_ptr<ScsiTransport> inner_;
};

void expect_same(const std::vector<Exchange>& seen, const std::vector<Exchange>& transcript) {
  ASSERT_EQ(seen.size(), transcript.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE("exchange " + std::to_string(i));
    EXPECT_EQ(seen[i].cdb, transcript[i].cdb);
    EXPECT_EQ(seen[i].data_in, transcript[i].data_in);
    EXPECT_EQ(seen[i].check, transcript[i].check);
    EXPECT_EQ(seen[i].key, transcript[i].key);
    EXPECT_EQ(seen[i].asc, transcript[i].asc);
    EXPECT_EQ(seen[i].ascq, transcript[i].ascq);
    EXPECT_EQ(seen[i].progress, transcript[i].progress);
  }
}

ScriptedReply reply_of(const Exchange& exchange) {
  if (!exchange.check) return cdm_test::good_reply(exchange.data_in);
  ScriptedReply reply = cdm_test::check_reply(exchange.key, exchange.asc, exchange.ascq);
  if (exchange.progress) {
    reply.sense[15] = 0x80;  // sense-key specific bytes valid: the progress indication
    put_be16(reply.sense.data() + 16, *exchange.progress);
  }
  return reply;
}

std::string run_call(MmcRecorder& recorder, const Call& call) {
  try {
    return call(recorder);
  } catch (const MSGVEC& record) {
    return message_vector_text(record);
  }
}

// The answer of GET PERFORMANCE: its header, then one write speed
// descriptor a speed (end LBA, read and write speed in kB/s).
Bytes write_speeds(uint32_t end_lba, uint32_t read_kbs, const std::vector<uint32_t>& write_kbs) {
  Bytes d(8 + 16 * write_kbs.size(), 0);
  put_be32(d.data(), static_cast<uint32_t>(d.size() - 4));  // data length after its own field
  for (std::size_t i = 0; i < write_kbs.size(); ++i) {
    put_be32(d.data() + 8 + 16 * i + 4, end_lba);
    put_be32(d.data() + 8 + 16 * i + 8, read_kbs);
    put_be32(d.data() + 8 + 16 * i + 12, write_kbs[i]);
  }
  return d;
}

// READ DISC INFORMATION, 34 bytes
const Bytes kReadDiscInformation = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
// GET PERFORMANCE, 32 descriptors of type 03h (write speeds)
const Bytes kGetWriteSpeeds = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0x03, 0};
const Bytes kTestUnitReady = {0x00, 0, 0, 0, 0, 0};
// BLANK with the immediate bit, of the whole disc or the minimal one
const Bytes kBlankFull = {0xA1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kBlankMinimal = {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// The disc information of a blank disc of one minute: erasable or not, track 1
// next, the next lead-in 4500 blocks before the area that begins with track
// 1's pregap (LBA -4650, 99:00:00), the last possible lead-out at 01:00:00
// (LBA 4350); both addresses in MSF form, their first byte reserved (zero).
Bytes blank_disc_information(bool erasable) {
  Bytes d(34, 0);
  d[1] = 32;  // length after these two bytes
  d[2] = erasable ? 0x10 : 0x00;
  d[3] = 1;  // first track on the disc
  d[4] = 1;  // sessions
  d[5] = 1;  // first and last track of the last session
  d[6] = 1;
  d[7] = 0x20;  // unrestricted use
  d[17] = 99, d[18] = 0, d[19] = 0;
  d[21] = 1, d[22] = 0, d[23] = 0;
  return d;
}

// A blank of a CD-RW that takes `polls` pauses of 100 ms: the disc
// information, BLANK, then TEST UNIT READY after each pause, NOT READY with
// the share of the time gone as progress until the time is up.
std::vector<Exchange> blanking(const Bytes& blank, unsigned polls) {
  std::vector<Exchange> t = {good(kReadDiscInformation, blank_disc_information(true)), good(blank)};
  for (unsigned poll = 0; poll < polls; ++poll)
    t.push_back(in_progress(kTestUnitReady, static_cast<uint16_t>(65536u * poll / polls)));
  t.push_back(good(kTestUnitReady));
  return t;
}

// What the driver's progress callback was told, each change once.
Call blank_call(bool full) {
  return [full](MmcRecorder& r) {
    std::string told;
    unsigned last = 1000;
    const ResultCode result = r.BlankDisc(full, [&](unsigned percent) {
      if (percent != last) told += std::to_string(percent) + " ";
      last = percent;
    });
    return told + "-> " + std::to_string(result);
  };
}

// 0 to 99 and 100, each once: the progress of an evenly polled blank.
std::string every_percent() {
  std::string told;
  for (unsigned percent = 0; percent <= 100; ++percent) told += std::to_string(percent) + " ";
  return told + "-> 1";
}

// The factors the driver keeps of GET PERFORMANCE, and the fastest.
std::string speeds_call(MmcRecorder& r) {
  r.ReadWriteSpeeds();
  std::string text;
  for (const uint8_t factor : r.writeSpeedFactors) text += std::to_string(factor) + "x ";
  return text + "max " + std::to_string(r.maxWriteSpeed);
}

TEST(MmcTranscripts, SpeedsAndBlankingAsTheDriveAnswersThem) {
  const struct {
    const char* scenario;
    std::string items;  // the emulated recorder's, after its medium
    Call call;
    std::vector<Exchange> transcript;
    std::string result;
  } cases[] = {
      {"write speeds: fastest first on the wire, slowest first in the driver",
       ",capacity=1,speeds=4/8",
       speeds_call,
       // fastest first: 8x = 1411.2 kB/s, 4x = 705.6 kB/s
       {good(kGetWriteSpeeds, write_speeds(4349, 5645, {1411, 706}))},
       "4x 8x max 8"},
      {"a drive without write speed descriptors keeps what it had",
       ",fail=AC:5/24/00",
       speeds_call,
       {check(kGetWriteSpeeds, 5, 0x24, 0)},
       "max 0"},
      {"a CD-R is not blanked: nothing but the disc information is asked",
       ",capacity=1,erasable=0",
       [](MmcRecorder& r) { return std::to_string(r.BlankDisc(false, [](unsigned) {})); },
       {good(kReadDiscInformation, blank_disc_information(false))},
       "\nError: The disc in the CD-Recorder is not rewritable (a CD-R): it cannot be blanked\n"},
      {"a minimal blank: a minute of polls, the progress passed on as it comes",
       ",capacity=1,erasable=1", blank_call(false), blanking(kBlankMinimal, 600), every_percent()},
      {"a full blank of a one-minute disc: its 4350 blocks at 4x, 14.5 seconds",
       ",capacity=1,erasable=1", blank_call(true), blanking(kBlankFull, 145), every_percent()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    // The driver pauses 100 ms after each answer "in progress"; nobody waits.
    std::vector<unsigned> pauses;
    for (const Exchange& exchange : c.transcript)
      if (exchange.progress) pauses.push_back(100);
    // Against the driver alone, the transcript's answers scripted.
    {
      cdm_test::SleepRecorder sleeps;
      ScopedTransport<RecordingTransport> transport;
      for (const Exchange& exchange : c.transcript) transport->push_reply(reply_of(exchange));
      MmcRecorder recorder;
      recorder.target = 4;
      EXPECT_EQ(run_call(recorder, c.call), c.result);
      ASSERT_EQ(transport->commands.size(), c.transcript.size());
      for (std::size_t i = 0; i < c.transcript.size(); ++i)
        EXPECT_EQ(transport->commands[i].cdb, c.transcript[i].cdb) << i;
      EXPECT_EQ(sleeps.pauses, pauses);
    }
    // Against the emulated recorder, whose clock the pauses move on.
    cdm_test::SleepRecorder sleeps;
    set_virtual_pauses(advance_emulated_clock);
    const ScratchDirectory folder;
    ScopedTransport<TranscriptTransport> transport(
        std::make_unique<TranscriptTransport>(std::make_unique<EmulatedBus>(
            parse_emulated_bus("0:4:0=MMC CD-RW DRIVE,medium=" + folder.file("disc") + c.items))));
    MmcRecorder recorder;
    recorder.target = 4;
    transport->recording = true;
    EXPECT_EQ(run_call(recorder, c.call), c.result);
    set_virtual_pauses({});
    expect_same(transport->exchanges, c.transcript);
    EXPECT_EQ(sleeps.pauses, pauses);
  }
}

}  // namespace
