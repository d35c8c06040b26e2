// The Philips recorder family through a transport that records every
// command: the exact bytes of its commands, mode pages and tables, the
// lead-in and lead-out, the raw sectors of disc-at-once writes and the
// reading slots its drives answer differently.
#include "drivers/philips_recorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/driver_factory.h"
#include "support/recorder_fakes.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::good_reply;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using cdm_test::valid_mode1_sector;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t T1 = 0x01, T2 = 0x02, T3 = 0x03, LO = LEADOUT_TRACK;

struct Cue {
  uint8_t track_bcd, index;
  int32_t lba;
};

struct TrackSpec {
  TrackType type;
  uint8_t flags;
  const char* isrc;  // null: none
};

// A layout of the given tracks (numbered from 1) and cuepoints.
std::unique_ptr<DiscLayout> make_layout(const std::vector<TrackSpec>& tracks,
                                        const std::vector<Cue>& cues, const char* mcn = nullptr) {
  auto layout = create_disc_layout();
  layout->track_count = static_cast<uint8_t>(tracks.size());
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    TrackEntry& entry = layout->tracks[t];
    entry.track_number = static_cast<uint8_t>(t + 1);
    entry.track_type = tracks[t].type;
    entry.track_flags = tracks[t].flags;
    entry.block_size = 2352;
    if (tracks[t].isrc) {
      entry.track_flags |= TRACK_ISRC;
      std::memcpy(entry.isrc.data(), tracks[t].isrc, 12);
    }
  }
  for (const Cue& cue : cues) {
    const MsfTime msf = lba_to_msf(cue.lba);
    fill_cuepoint(&layout->cuepoints[layout->cuepoint_count++], cue.track_bcd, cue.index,
                  msf.minute, msf.second, msf.frame);
  }
  if (mcn) {
    layout->layout_flags |= LAYOUT_MCN;
    std::memcpy(layout->catalog_number.data(), mcn, 13);
  }
  return layout;
}

// Three tracks: a Mode 1 track, an audio track without index 0 with a second
// index and an ISRC, a four-channel audio track with a pregap.
std::unique_ptr<DiscLayout> three_track_layout(const char* mcn = nullptr) {
  return make_layout({{TrackType::Mode1, TRACK_DATA, nullptr},
                      {TrackType::Audio, TRACK_DCP | TRACK_PRE, "USABC9612345"},
                      {TrackType::Audio, TRACK_4CH, nullptr}},
                     {{T1, 0, -150},
                      {T1, 1, 0},
                      {T2, 1, 1000},
                      {T2, 2, 1200},
                      {T3, 0, 2000},
                      {T3, 1, 2150},
                      {LO, 1, 3000}},
                     mcn);
}

template <typename Leaf>
struct Drive {
  ScopedTransport<RecordingTransport> transport;
  Leaf recorder;
  const cdm_test::RecordedCommand& command(std::size_t i) const { return transport->commands[i]; }
  const cdm_test::RecordedCommand& last() const { return transport->commands.back(); }
};

// READ SESSION's answer: lead-in and lead-out lengths.
cdm_test::ScriptedReply session_reply(uint8_t leadin, uint8_t leadout) {
  return good_reply({0, leadin, 0, leadout});
}

TEST(PhilipsDiscAtOnce, OneAudioTrackSendsItsSessionAndLeadIn) {
  Drive<PhilipsClass7> drive;
  drive.transport->push_reply(session_reply(2, 1));
  auto layout =
      make_layout({{TrackType::Audio, 0, nullptr}}, {{T1, 0, -150}, {T1, 1, 0}, {LO, 1, 100}});
  DiscAtOnceJob job;
  job.layout = layout.get();
  EXPECT_EQ(drive.recorder.BeginDiscAtOnce(job), 1);
  ASSERT_EQ(drive.transport->commands.size(), 5u);
  EXPECT_EQ(drive.command(0).cdb, Bytes({0xEE, 0, 0, 0, 0, 0, 0, 0, 4, 0}));  // READ SESSION
  EXPECT_EQ(drive.command(1).cdb, Bytes({0x15, 0x10, 0, 0, 14, 0}));  // MODE SELECT, PF, 14 bytes
  // page 0x22 without a catalog number
  EXPECT_EQ(drive.command(1).data_out, Bytes({0, 0, 0, 0, 0x22, 8, 0, 0, 0, 0, 0, 0, 0, 0}));
  // block descriptor: 2352-byte blocks
  EXPECT_EQ(drive.command(2).data_out, Bytes({0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30}));
  // WRITE SESSION: audio, session format 0, 20 bytes
  EXPECT_EQ(drive.command(3).cdb, Bytes({0xED, 0, 0, 0, 0, 0, 0x00, 0, 20, 0}));
  EXPECT_EQ(drive.command(3).data_out,
            Bytes({0, 20, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 100}));
  // WRITE(10) of the two lead-in blocks: digital silence
  EXPECT_EQ(drive.command(4).cdb, Bytes({0x2A, 0, 0, 0, 0, 0, 0, 0, 2, 0}));
  EXPECT_EQ(drive.command(4).data_out, Bytes(2 * 2352, 0));
  EXPECT_EQ(drive.recorder.nextWriteAddress, -150);
}

TEST(PhilipsDiscAtOnce, TableOfContentsRepeatsPositionsAndPacksTheIsrc) {
  struct Case {
    uint8_t job_flags;
    uint8_t byte6;  // WRITE SESSION byte 6
    bool class14;
  };
  const Case cases[] = {
      {0, 0x02, false},            // first track Mode 1, last audio: format 0
      {JOB_SESSION, 0x0A, false},  // class 7 has the session bit
      {JOB_SESSION, 0x02, true},   // class 14 has not
  };
  for (const Case& c : cases) {
    auto layout = three_track_layout("0123456789012");
    DiscAtOnceJob job;
    job.layout = layout.get();
    job.flags = c.job_flags;
    ScopedTransport<RecordingTransport> transport;
    transport->push_reply(session_reply(0, 0));
    std::unique_ptr<ScsiDevice> device = create_driver(c.class14 ? 14 : 7);
    static_cast<RecorderDriver&>(*device).BeginDiscAtOnce(job);
    ASSERT_EQ(transport->commands.size(), 4u);
    // page 0x22 with the catalog number in BCD
    EXPECT_EQ(transport->commands[1].data_out,
              Bytes({0, 0, 0, 0, 0x22, 8, 1, 0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0x20}));
    EXPECT_EQ(transport->commands[3].cdb, Bytes({0xED, 0, 0, 0, 0, 0, c.byte6, 0, 64, 0}));
    EXPECT_EQ(transport->commands[3].data_out,
              Bytes({// track 1: data, index 1 at 0, ends at track 2's index 1
                     0, 20, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0xE8,
                     // track 2: PRE + DCP, ISRC; starts where track 1 ended, index 2, ends at
                     // track 3's index 0
                     0, 24, 0x83, 0x25, 0x23, 0x11, 0x12, 0x13, 0x96, 0x12, 0x34, 0x50, 0, 0, 0x03,
                     0xE8, 0, 0, 0x04, 0xB0, 0, 0, 0x07, 0xD0,
                     // track 3: four channels, index 1, lead-out
                     0, 20, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x66, 0, 0, 0x0B, 0xB8}));
  }
}

TEST(PhilipsDiscAtOnce, SessionFormatFollowsTheLastTrack) {
  struct Case {
    TrackType last;
    uint8_t model;
    uint8_t byte6;
  };
  const Case cases[] = {
      {TrackType::Mode1, 7, 0x10},
      {TrackType::Mode2, 7, 0x20},
      {TrackType::Cdi, 9, 0x20},
      {TrackType::Mode2, 14, 0x00},
  };
  for (const Case& c : cases) {
    auto layout =
        make_layout({{TrackType::Audio, 0, nullptr}, {c.last, TRACK_DATA, nullptr}},
                    {{T1, 0, -150}, {T1, 1, 0}, {T2, 0, 100}, {T2, 1, 250}, {LO, 1, 400}});
    DiscAtOnceJob job;
    job.layout = layout.get();
    ScopedTransport<RecordingTransport> transport;
    transport->push_reply(session_reply(0, 0));
    std::unique_ptr<ScsiDevice> device = create_driver(c.model);
    static_cast<RecorderDriver&>(*device).BeginDiscAtOnce(job);
    EXPECT_EQ(transport->commands[3].cdb[6], c.byte6);
  }
}

TEST(PhilipsDiscAtOnce, LeadInIsMarkedAndLeadOutIsNot) {
  Drive<PhilipsClass8> drive;
  drive.transport->push_reply(session_reply(3, 2));
  auto layout = make_layout({{TrackType::Mode1, TRACK_DATA, nullptr}},
                            {{T1, 0, -150}, {T1, 1, 0}, {LO, 1, 500}});
  DiscAtOnceJob job;
  job.layout = layout.get();
  cdm_test::EventLog log;
  job.flags = JOB_PROGRESS;
  drive.recorder.BeginDiscAtOnce(job);
  drive.recorder.nextWriteAddress = 650;
  drive.recorder.EndDiscAtOnce(1);
  EXPECT_EQ(log.types, (std::vector<uint16_t>{EVENT_LEADIN_START, EVENT_LEADIN_END,
                                              EVENT_LEADOUT_START, EVENT_LEADOUT_END}));
  const auto& commands = drive.transport->commands;
  ASSERT_EQ(commands.size(), 7u);
  const struct {
    const Bytes& data;
    int32_t first_lba;
    uint8_t marking;
  } writes[] = {{commands[4].data_out, -150, 0xA0}, {commands[5].data_out, 650, 0}};
  for (const auto& w : writes) {
    for (std::size_t b = 0; b * 2352 < w.data.size(); ++b) {
      Bytes sector(w.data.begin() + b * 2352, w.data.begin() + (b + 1) * 2352);
      transform_sector(sector.data(), true, false, false);  // undo the swap
      transform_sector(sector.data(), false, false, true);  // undo the scrambling
      const MsfTime msf = lba_to_msf(w.first_lba + static_cast<int32_t>(b));
      EXPECT_EQ(sector[12], bin_to_bcd(msf.minute) + w.marking);
      EXPECT_EQ(sector[14], bin_to_bcd(msf.frame));
      EXPECT_TRUE(valid_mode1_sector(sector.data()));
    }
  }
  EXPECT_EQ(commands[6].cdb, Bytes({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}));  // SYNCHRONIZE CACHE
}

TEST(PhilipsDiscAtOnce, FailuresOfTheSessionCommandsAreRaised) {
  const struct {
    std::size_t failing;  // command that fails
    const char* name;
  } cases[] = {{0, "READ SESSION"}, {3, "WRITE SESSION"}};
  for (const auto& c : cases) {
    Drive<PhilipsClass7> drive;
    if (c.failing != 0) drive.transport->push_reply(session_reply(0, 0));
    for (std::size_t i = 1; i < c.failing; ++i) drive.transport->push_reply(good_reply());
    drive.transport->push_reply(cdm_test::check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x26));
    auto layout = three_track_layout();
    DiscAtOnceJob job;
    job.layout = layout.get();
    EXPECT_EQ(cdm_test::raised_text([&] { drive.recorder.BeginDiscAtOnce(job); }),
              std::string("\nError: '") + c.name +
                  "' command failed on device 0:0:0\nIllegal command request\n");
    EXPECT_EQ(drive.transport->commands.size(), c.failing + 1);  // nothing written
  }
  // A track type the drive has no number for: nothing is written either.
  Drive<PhilipsClass7> drive;
  drive.transport->push_reply(session_reply(0, 0));
  auto layout = three_track_layout();
  layout->tracks[1].track_type = static_cast<TrackType>(4);
  DiscAtOnceJob job;
  job.layout = layout.get();
  EXPECT_EQ(
      cdm_test::raised_text([&] { drive.recorder.BeginDiscAtOnce(job); }),
      "\nError: 'WRITE SESSION' command failed on device 0:0:0\nInternal bugcheck detected\n");
  EXPECT_EQ(drive.transport->commands.size(), 3u);
}

TEST(PhilipsClass2Table, DiscTableCarriesHeaderTracksAndLeadOut) {
  Drive<PhilipsClass2> drive;
  auto layout = three_track_layout("0123456789012");
  layout->tracks[0].pregap = 150;
  DiscAtOnceJob job;
  job.layout = layout.get();
  job.flags = JOB_SESSION;
  EXPECT_EQ(drive.recorder.BeginDiscAtOnce(job), 1);
  EXPECT_EQ(layout->tracks[0].pregap, 0u);
  EXPECT_EQ(drive.recorder.nextWriteAddress, 0);
  ASSERT_EQ(drive.transport->commands.size(), 3u);
  EXPECT_EQ(drive.command(1).cdb, Bytes({0xEF, 0x01, 0, 0, 0, 0, 0, 0, 160, 0}));  // FORMAT DISC
  const Bytes expected = {
      // disc header: Mode 1 first, session, catalog number
      0, 0x8A, 0, 0, 0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0,
      // track 1: Mode 1, no copy; 1000 frames, index 0 150 frames, next pregap 0
      1, 0x01, 0x03, 0, 0, 0, 0, 0x03, 0xE8, 0, 0x96, 0, 0x96, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0,
      // track 2: audio with PRE, copy permitted, ISRC; next pregap 150
      2, 0x05, 0x06, 0, 0, 0, 0, 0x03, 0xE8, 0, 0, 0, 0, 0x25, 0x23, 0x11, 0x12, 0x13, 0x96, 0x12,
      0x34, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      // track 3: four channels, no copy; 850 frames to the lead-out
      3, 0x06, 0x03, 0, 0, 0, 0, 0x03, 0x52, 0, 0x96, 0, 0x96, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0,
      // lead-out
      0xAA, 0, 0, 0x1A, 0x5E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0};
  EXPECT_EQ(drive.command(1).data_out, expected);
  EXPECT_EQ(drive.command(2).cdb, Bytes({0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));  // WRITE DISC
  drive.recorder.EndDiscAtOnce(1);
  EXPECT_EQ(drive.last().cdb[0], 0x35);  // SYNCHRONIZE CACHE
}

TEST(PhilipsSlots, SpeedPagesClampAndCarryTheTestBit) {
  struct Case {
    uint8_t model;
    bool writing;
    uint8_t code, test;
    Bytes data;
  };
  const Case cases[] = {
      {7, true, 3, 0, {0, 0, 0, 0, 0x23, 6, 2, 0, 0, 0, 0, 0}},  // 6x lowered to 2x
      {7, true, 0, 1, {0, 0, 0, 0, 0x23, 6, 1, 1, 0, 0, 0, 0}},
      {2, true, 3, 1, {0, 0, 0, 0, 0x23, 6, 6, 1, 0, 0, 0, 0}},
      {14, true, 3, 1, {0, 0, 0, 0, 0x31, 2, 0, 0x21}},  // page 0x31: 2x, test
      {14, true, 0, 0, {0, 0, 0, 0, 0x31, 2, 0, 0x10}},
      {9, false, 3, 0, {0, 0, 0, 0, 0x23, 6, 6, 0, 0, 0, 0, 0}},
      {8, false, 3, 0, {0, 0, 0, 0, 0x23, 6, 4, 0, 0, 0, 0, 0}},  // reading limit 4x
      {14, false, 3, 0, {0, 0, 0, 0, 0x31, 2, 0, 0x40}},
  };
  for (const Case& c : cases) {
    ScopedTransport<RecordingTransport> transport;
    std::unique_ptr<ScsiDevice> device = create_driver(c.model);
    auto& recorder = static_cast<RecorderDriver&>(*device);
    EXPECT_EQ(
        c.writing ? recorder.SetWritingSpeed(c.code, c.test) : recorder.SetReadingSpeed(c.code), 1);
    ASSERT_EQ(transport->commands.size(), 1u);
    EXPECT_EQ(transport->commands[0].cdb,
              Bytes({0x15, 0x10, 0, 0, static_cast<uint8_t>(c.data.size()), 0}));
    EXPECT_EQ(transport->commands[0].data_out, c.data) << int{c.model} << " " << int{c.code};
  }
}

TEST(PhilipsSlots, TrackAndDiscCommands) {
  Drive<PhilipsClass7> drive;
  drive.recorder.lun = 1;
  TrackEntry track;
  track.track_number = 5;
  const struct {
    TrackType type;
    uint8_t flags;
    uint8_t byte6;
  } tracks[] = {{TrackType::Audio, 0, 0x04},
                {TrackType::Audio, TRACK_PRE, 0x05},
                {TrackType::Mode1, TRACK_DATA, 0x01},
                {TrackType::Mode2, TRACK_DATA, 0x02},
                {TrackType::Cdi, TRACK_DATA, 0x02}};
  for (const auto& t : tracks) {
    track.track_type = t.type;
    track.track_flags = t.flags;
    EXPECT_EQ(drive.recorder.OpenTrack(track), 1);
    EXPECT_EQ(drive.last().cdb, Bytes({0xE6, 0x20, 0, 0, 0, 5, t.byte6, 0, 0, 0}));  // OPEN TRACK
  }
  drive.recorder.FinalizeDisc(2, 1);
  EXPECT_EQ(drive.last().cdb, Bytes({0xE9, 0x20, 0, 0, 0, 0, 0, 0, 0x0B, 0}));  // mode 3, session
  drive.recorder.FinalizeDisc(3, 0);
  EXPECT_EQ(drive.last().cdb, Bytes({0xE9, 0x20, 0, 0, 0, 0, 0, 0, 0x04, 0}));
  drive.recorder.CloseTrack();
  EXPECT_EQ(drive.last().cdb, Bytes({0x35, 0x20, 0, 0, 0, 0, 0, 0, 0, 0}));
  const std::size_t sent = drive.transport->commands.size();
  track.track_type = static_cast<TrackType>(4);
  EXPECT_EQ(drive.recorder.OpenTrack(track), MSG_BUGCHECK);
  EXPECT_EQ(drive.recorder.FinalizeDisc(4, 0), MSG_BUGCHECK);
  EXPECT_EQ(drive.recorder.SetWritingBlockLength(1, 2048), 1);
  EXPECT_EQ(drive.transport->commands.size(), sent);
}

TEST(PhilipsSlots, EjectAndLoadByModelClass) {
  const struct {
    uint8_t model;
    Bytes eject, load;
  } cases[] = {
      {7, {0xE7, 0, 0, 0, 0, 0, 0, 0, 1, 0}, {0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {12, {0x1B, 0, 0, 0, 0x02, 0}, {0x1B, 0, 0, 0, 0x03, 0}},  // START/STOP UNIT
      {14, {0x1B, 0, 0, 0, 0x02, 0}, {0x1B, 0, 0, 0, 0x03, 0}},
  };
  for (const auto& c : cases) {
    ScopedTransport<RecordingTransport> transport;
    std::unique_ptr<ScsiDevice> device = create_driver(c.model);
    auto& recorder = static_cast<RecorderDriver&>(*device);
    recorder.EjectDisc();
    recorder.LoadDisc();
    EXPECT_EQ(transport->commands[0].cdb, c.eject);
    EXPECT_EQ(transport->commands[1].cdb, c.load);
  }
}

// A block of varied bytes.
Bytes pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + seed);
  return bytes;
}

Bytes swapped(Bytes bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  return bytes;
}

TEST(PhilipsWrite, SwapsOnlyRawBlocksAndResendsTheSameBytesAfterAnAbort) {
  const struct {
    uint16_t block_size;
    bool swap;
  } cases[] = {{2352, true}, {2448, false}, {2048, false}, {2336, false}};
  for (const auto& c : cases) {
    Drive<PhilipsClass7> drive;
    cdm_test::SleepRecorder sleeps;
    const Bytes original = pattern(2u * c.block_size, 5);
    Bytes buffer = original;
    drive.transport->push_reply(cdm_test::check_reply(SENSE_KEY_ABORTED_COMMAND));
    EXPECT_EQ(drive.recorder.WriteNamed(buffer.data(), c.block_size, 2, 0, true), 1);
    ASSERT_EQ(drive.transport->commands.size(), 2u);
    EXPECT_EQ(drive.command(0).cdb, Bytes({0x2A, 0, 0, 0, 0, 0, 0, 0, 2, 0}));  // WRITE(10), 2
    EXPECT_EQ(drive.command(0).data_out, c.swap ? swapped(original) : original) << c.block_size;
    EXPECT_EQ(drive.command(1).data_out, drive.command(0).data_out) << c.block_size;
  }
}

// The 2352-byte sector a drive receives, swapped and scrambled, as built.
Bytes received_sector(const Bytes& data_out, std::size_t block) {
  Bytes sector(data_out.begin() + block * 2352, data_out.begin() + (block + 1) * 2352);
  transform_sector(sector.data(), true, false, false);
  transform_sector(sector.data(), false, false, true);
  return sector;
}

TEST(PhilipsWrite, DiscAtOnceSendsCookedBlocksAsRawSectors) {
  const struct {
    uint16_t block_size;
    uint8_t mode;
  } cases[] = {{2048, 1}, {2336, 2}};
  for (const auto& c : cases) {
    Drive<PhilipsClass9> drive;
    drive.recorder.SetBlockLength(SECTOR_KIND_DATA, 2352);
    drive.recorder.nextWriteAddress = 300;
    const Bytes original = pattern(std::size_t{31} * c.block_size, 9);
    Bytes buffer = original;
    // The second WRITE(10) is aborted once: only it goes again.
    drive.transport->push_reply(good_reply());
    drive.transport->push_reply(cdm_test::check_reply(SENSE_KEY_ABORTED_COMMAND));
    cdm_test::SleepRecorder sleeps;
    EXPECT_EQ(drive.recorder.WriteNamed(buffer.data(), c.block_size, 31, 0, true), 1);
    const auto& commands = drive.transport->commands;
    ASSERT_EQ(commands.size(), 4u);  // block length, 27 blocks, 4 refused, the same 4
    EXPECT_EQ(commands[1].cdb, Bytes({0x2A, 0, 0, 0, 0, 0, 0, 0, 27, 0}));
    EXPECT_EQ(commands[2].cdb, Bytes({0x2A, 0, 0, 0, 0, 0, 0, 0, 4, 0}));
    EXPECT_EQ(commands[3].data_out, commands[2].data_out);
    EXPECT_EQ(drive.recorder.nextWriteAddress, 331);
    std::size_t block = 0;
    for (std::size_t w : {1, 3}) {
      for (std::size_t b = 0; b * 2352 < commands[w].data_out.size(); ++b, ++block) {
        const Bytes sector = received_sector(commands[w].data_out, b);
        EXPECT_TRUE(std::equal(SECTOR_SYNC.begin(), SECTOR_SYNC.end(), sector.begin()));
        EXPECT_TRUE(sector_matches_address(sector.data(), 300 + static_cast<int32_t>(block)));
        EXPECT_EQ(sector[15], c.mode);
        EXPECT_TRUE(std::equal(original.begin() + block * c.block_size,
                               original.begin() + (block + 1) * c.block_size, sector.begin() + 16));
        if (c.mode == 1) {
          EXPECT_TRUE(valid_mode1_sector(sector.data()));
        }
      }
    }
    EXPECT_EQ(block, 31u);
  }
}

TEST(PhilipsRead, AudioIsSwappedAndRawDataDescrambledByModelClass) {
  const Bytes raw = pattern(2 * 2352, 3);
  Bytes scrambled = raw;
  transform_sector(scrambled.data(), false, false, true);
  transform_sector(scrambled.data() + 2352, false, false, true);
  const struct {
    uint8_t model;
    uint8_t audio_opcode;
    bool audio_swapped;
    bool descrambled;
  } cases[] = {{7, 0x28, true, true},
               {8, 0x28, true, false},
               {9, 0x28, true, false},
               {12, 0xD8, false, false},
               {14, 0xD8, true, false}};
  for (const auto& c : cases) {
    ScopedTransport<RecordingTransport> transport;
    std::unique_ptr<ScsiDevice> device = create_driver(c.model);
    auto& recorder = static_cast<RecorderDriver&>(*device);
    Bytes buffer(2 * 2352);
    transport->push_reply(good_reply(raw));
    EXPECT_EQ(recorder.ReadAudio(buffer.data(), 2, 16, SUBCODE_NONE), 1);
    EXPECT_EQ(transport->commands.back().opcode(), c.audio_opcode);
    EXPECT_EQ(buffer, c.audio_swapped ? swapped(raw) : raw) << int{c.model};
    transport->push_reply(good_reply(scrambled));
    EXPECT_EQ(recorder.ReadData(buffer.data(), 2352, 2, 16), 1);
    EXPECT_EQ(buffer, c.descrambled ? raw : scrambled) << int{c.model};
    // Audio reading frames: the block length, or nothing with READ CD-DA.
    const std::size_t before = transport->commands.size();
    recorder.StartAudioRead(0, 2352);
    recorder.StopAudioRead();
    EXPECT_EQ(transport->commands.size() - before, c.audio_opcode == 0x28 ? 2u : 0u);
  }
}

}  // namespace
