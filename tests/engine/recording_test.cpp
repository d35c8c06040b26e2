// The recording engine against a scripted recorder and against the Philips
// family on a recording transport: the order of operations, the blocks of
// image files and gaps, the events, the staging buffer.
#include "engine/recording.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/philips_recorder.h"
#include "support/recorder_fakes.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::EventLog;
using cdm_test::FakeRecorder;
using cdm_test::raised_text;
using Bytes = std::vector<uint8_t>;

std::string pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + seed);
  return bytes;
}

Bytes concat(const std::vector<Bytes>& writes) {
  Bytes all;
  for (const Bytes& w : writes) all.insert(all.end(), w.begin(), w.end());
  return all;
}

// One file of one track of `length` blocks.
struct OneTrack {
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  ImageFile file;
  OneTrack(const std::string& path, uint32_t data_length, TrackType type, uint16_t block_size,
           uint32_t length) {
    layout->track_count = 1;
    TrackEntry& track = layout->tracks[0];
    track.track_number = 1;
    track.track_type = type;
    track.block_size = block_size;
    track.length = length;
    file.name = "IMAGE.BIN";
    file.path = path;
    file.track_count = 1;
    file.data_length = data_length;
  }
};

TEST(RecordImageFile, ShortDataIsCompletedWithZerosAndMissingDataRaises) {
  ScratchDirectory scratch;
  const std::string path = scratch.file("image.bin");
  const std::string data = pattern(2 * 2352 + 100, 1);
  write_file(path, data);
  {
    OneTrack job(path, static_cast<uint32_t>(data.size()), TrackType::Audio, 2352, 3);
    FakeRecorder recorder;
    record_image_file(recorder, *job.layout, job.file, false);
    Bytes expected(data.begin(), data.end());
    expected.resize(3 * 2352, 0);
    EXPECT_EQ(concat(recorder.writes), expected);
  }
  {
    // 28 blocks: the first chunk (27) takes all the data, the second finds none.
    OneTrack job(path, static_cast<uint32_t>(data.size()), TrackType::Audio, 2352, 28);
    FakeRecorder recorder;
    EXPECT_EQ(raised_text([&] { record_image_file(recorder, *job.layout, job.file, false); }),
              "\nError: Unexpected failure reading file (end-of-file?)\n");
    EXPECT_EQ(recorder.writes.size(), 1u);
  }
  for (uint32_t blocks_left : {30u, 300u}) {
    // The file shrank after the sheet was read: the WRITEs whose data is
    // there go out, the first one whose data the read did not deliver raises
    // (within the first read of the file, and in a later one).
    const std::string shrunk = scratch.file("shrunk.bin");
    write_file(shrunk, pattern(std::size_t{blocks_left} * 2352, 2));
    OneTrack job(shrunk, 400 * 2352, TrackType::Audio, 2352, 400);
    FakeRecorder recorder;
    EXPECT_EQ(raised_text([&] { record_image_file(recorder, *job.layout, job.file, false); }),
              "\nError: Unexpected failure reading file (end-of-file?)\n");
    EXPECT_EQ(recorder.writes.size(), blocks_left / 27) << blocks_left;
  }
  OneTrack job(scratch.file("missing.bin"), 10, TrackType::Audio, 2352, 1);
  FakeRecorder recorder;
  EXPECT_EQ(raised_text([&] { record_image_file(recorder, *job.layout, job.file, false); }),
            "\nError: Unable to open file \"IMAGE.BIN\"\nNo such file or directory\n");
}

TEST(RecordImageFile, ChunksGapsOffsetAndProgress) {
  struct Case {
    TrackType type;
    uint16_t block_size;
    uint32_t length, pregap, postgap;
    std::vector<std::size_t> chunk_blocks;
    std::vector<uint32_t> percents;
  };
  const Case cases[] = {
      {TrackType::Audio, 2352, 27, 0, 0, {27}, {100}},
      {TrackType::Mode1, 2048, 40, 0, 0, {31, 9}, {77, 100}},
      {TrackType::Mode2, 2336, 60, 30, 2, {27, 3, 27, 27, 6, 2}, {45, 90, 100}},
      {TrackType::Audio, 2448, 26, 0, 1, {26, 1}, {100}},
  };
  ScratchDirectory scratch;
  const std::string path = scratch.file("image.wav");
  for (const Case& c : cases) {
    const std::string header = pattern(44, 9);
    const std::string data = pattern(c.length * c.block_size, 2);
    write_file(path, header + data);
    OneTrack job(path, static_cast<uint32_t>(data.size()), c.type, c.block_size, c.length);
    job.file.data_offset = 44;
    job.layout->tracks[0].pregap = c.pregap;
    job.layout->tracks[0].postgap = c.postgap;
    FakeRecorder recorder;
    std::vector<RecordingEvent> events;
    set_event_callback([&](const RecordingEvent& event) {
      events.push_back(event);
      return 1;
    });
    record_image_file(recorder, *job.layout, job.file, true);
    clear_event_callback();
    ASSERT_EQ(recorder.writes.size(), c.chunk_blocks.size());
    for (std::size_t i = 0; i < c.chunk_blocks.size(); ++i)
      EXPECT_EQ(recorder.writes[i].size(), c.chunk_blocks[i] * c.block_size);
    const Bytes all = concat(recorder.writes);
    const std::size_t pregap_bytes = std::size_t{c.pregap} * c.block_size;
    EXPECT_EQ(Bytes(all.begin() + pregap_bytes, all.begin() + pregap_bytes + data.size()),
              Bytes(data.begin(), data.end()));
    ASSERT_EQ(events.size(), c.percents.size() + 2);
    EXPECT_EQ(events.front().type, EVENT_TRACK_START);
    EXPECT_EQ(events.front().args[1], c.length);
    for (std::size_t i = 0; i < c.percents.size(); ++i)
      EXPECT_EQ(events[i + 1].args[0], c.percents[i]);
    EXPECT_EQ(events.back().type, EVENT_TRACK_END);
  }
}

// A disc of an audio track (30 blocks) and a Mode 1 track stored as 2048-byte
// blocks (40 blocks, pregap 150, postgap 2) on the Philips class 7.
struct TwoFileDisc {
  ScratchDirectory scratch;
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  std::vector<ImageFile> files;
  std::string audio = pattern(30 * 2352, 4);
  std::string data = pattern(40 * 2048, 5);

  TwoFileDisc() {
    write_file(scratch.file("audio.bin"), audio);
    write_file(scratch.file("data.bin"), data);
    layout->track_count = 2;
    layout->tracks[0] = track(1, TrackType::Audio, 0, 2352, 30, 150, 0);
    layout->tracks[1] = track(2, TrackType::Mode1, TRACK_DATA, 2048, 40, 150, 2);
    add_cue(0x01, 0, -150);
    add_cue(0x01, 1, 0);
    add_cue(0x02, 0, 30);
    add_cue(0x02, 1, 180);
    add_cue(LEADOUT_TRACK, 1, 222);
    files.push_back(file("AUDIO.BIN", "audio.bin", 0, audio.size()));
    files.push_back(file("DATA.BIN", "data.bin", 1, data.size()));
  }
  static TrackEntry track(uint8_t number, TrackType type, uint8_t flags, uint16_t block_size,
                          uint32_t length, uint32_t pregap, uint32_t postgap) {
    TrackEntry t;
    t.track_number = number;
    t.track_type = type;
    t.track_flags = flags;
    t.block_size = block_size;
    t.length = length;
    t.pregap = pregap;
    t.postgap = postgap;
    return t;
  }
  void add_cue(uint8_t track_bcd, uint8_t index, int32_t lba) {
    const MsfTime msf = lba_to_msf(lba);
    fill_cuepoint(&layout->cuepoints[layout->cuepoint_count++], track_bcd, index, msf.minute,
                  msf.second, msf.frame);
  }
  ImageFile file(const char* name, const char* relative, uint8_t first, std::size_t length) {
    ImageFile f;
    f.name = name;
    f.path = scratch.file(relative);
    f.first_track = first;
    f.track_count = 1;
    f.data_length = static_cast<uint32_t>(length);
    return f;
  }
  DiscAtOnceJob job(uint8_t flags) {
    DiscAtOnceJob j;
    j.layout = layout.get();
    j.files = files.data();
    j.file_count = static_cast<uint16_t>(files.size());
    j.speed = SPEED_6X;
    j.flags = flags;
    return j;
  }
};

TEST(RecordDiscAtOnce, PhilipsDiscGoesOutAsRawSectorsInOrder) {
  TwoFileDisc disc;
  cdm_test::ScopedTransport<cdm_test::RecordingTransport> transport;
  transport->push_reply(cdm_test::good_reply());              // TEST UNIT READY
  transport->push_reply(cdm_test::good_reply());              // REZERO UNIT
  transport->push_reply(cdm_test::good_reply());              // speed page
  transport->push_reply(cdm_test::good_reply({0, 4, 0, 3}));  // READ SESSION: 4 and 3 blocks
  PhilipsClass7 recorder;
  EventLog log;
  cdm_test::SleepRecorder sleeps;
  testing::internal::CaptureStdout();
  EXPECT_EQ(record_disc_at_once(recorder, disc.job(JOB_PROGRESS | JOB_TEST | JOB_BEEP)), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a\a");
  EXPECT_EQ(sleeps.pauses, (std::vector<unsigned>{300, 300}));

  Bytes opcodes;
  Bytes stream;  // every block as the drive receives it
  for (const auto& command : transport->commands) {
    opcodes.push_back(command.opcode());
    if (command.opcode() != 0x2A) continue;
    EXPECT_EQ(command.length() % 2352, 0u);  // the drive's block length: raw sectors only
    EXPECT_LE(command.length(), 65000u);
    stream.insert(stream.end(), command.data_out.begin(), command.data_out.end());
  }
  EXPECT_EQ(Bytes(opcodes.begin(), opcodes.begin() + 7),
            Bytes({0x00, 0x01, 0x15, 0xEE, 0x15, 0x15, 0xED}));
  EXPECT_EQ(transport->commands[2].data_out[7], 1);  // test recording
  EXPECT_EQ(opcodes.back(), 0x35);                   // SYNCHRONIZE CACHE
  // lead-in 4, pregap 150, audio 30, pregap 150, data 40, postgap 2, lead-out 3
  ASSERT_EQ(stream.size(), std::size_t{4 + 150 + 30 + 150 + 40 + 2 + 3} * 2352);
  auto block = [&](std::size_t i) {
    Bytes b(stream.begin() + i * 2352, stream.begin() + (i + 1) * 2352);
    transform_sector(b.data(), true, false, false);  // the drive swaps back
    return b;
  };
  for (std::size_t i = 0; i < 30; ++i) {
    const Bytes audio = block(4 + 150 + i);
    EXPECT_EQ(0, std::memcmp(audio.data(), disc.audio.data() + i * 2352, 2352)) << i;
  }
  // The data track's pregap, data and postgap: Mode 1 sectors from LBA 30 on.
  for (std::size_t i = 0; i < 192; ++i) {
    Bytes sector = block(4 + 150 + 30 + i);
    transform_sector(sector.data(), false, false, true);  // and descrambles
    const auto lba = static_cast<int32_t>(30 + i);
    EXPECT_TRUE(sector_matches_address(sector.data(), lba)) << lba;
    EXPECT_EQ(sector[15], 1);
    EXPECT_TRUE(cdm_test::valid_mode1_sector(sector.data())) << lba;
    if (i >= 150 && i < 190) {
      EXPECT_EQ(0, std::memcmp(sector.data() + 16, disc.data.data() + (i - 150) * 2048, 2048));
    }
  }
  EXPECT_EQ(log.types,
            (std::vector<uint16_t>{6, 18, 19, 11, 12, 12, 13, 11, 12, 12, 13, 20, 21, 7}));
}

TEST(RecordDiscAtOnce, WithoutProgressNoEventAtAll) {
  TwoFileDisc disc;
  cdm_test::ScopedTransport<cdm_test::RecordingTransport> transport;
  PhilipsClass7 recorder;
  // The disc is blank before the recording and lists both tracks after it.
  const Bytes toc = {0, 26, 1, 2, 0, 0x10, 1, 0,    0,    0, 0, 0, 0, 0x14,
                     2, 0,  0, 0, 0, 180,  0, 0x14, 0xAA, 0, 0, 0, 0, 222};
  int tocs = 0;
  transport->responder = [&](ScsiRequest& request) {
    request.srb_status = SS_COMP;
    if (request.cdb[0] == 0x43)  // READ TOC
      cdm_test::RecordingTransport::apply(
          ++tocs == 1 ? cdm_test::check_reply(SENSE_KEY_BLANK_CHECK) : cdm_test::good_reply(toc),
          request);
  };
  EventLog log;
  record_disc_at_once(recorder, disc.job(JOB_EJECT));
  EXPECT_TRUE(log.types.empty());
  EXPECT_EQ(transport->commands.back().cdb, Bytes({0xE7, 0, 0, 0, 0, 0, 0, 0, 1, 0}));  // eject
}

TEST(TrackAtOnce, BeginAndEndSendTheTrackCommands) {
  cdm_test::ScopedTransport<cdm_test::RecordingTransport> transport;
  PhilipsClass9 recorder;
  TrackAtOnceJob job;
  job.track.track_number = 1;
  job.track.track_type = TrackType::Mode1;
  job.track.track_flags = TRACK_DATA;
  job.track.block_size = 2048;
  job.speed = SPEED_1X;
  job.flags = TAO_TEST | TAO_FINALIZE | TAO_SESSION | TAO_PROGRESS;
  EXPECT_EQ(begin_track_at_once(recorder, job), 1);
  transport->push_reply(cdm_test::good_reply());                               // SYNCHRONIZE CACHE
  transport->push_reply(cdm_test::check_reply(SENSE_KEY_MEDIUM_ERROR, 0x0C));  // fixation
  set_event_callback(console_event_callback);
  testing::internal::CaptureStdout();
  EXPECT_EQ(raised_text([&] { end_track_at_once(recorder, job); }),
            "\nError: 'FINALIZE DISC' command failed on device 0:0:0\nBad medium detected\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nFinalizing SESSION (writing leadin/leadout)...\n");
  clear_event_callback();
  const std::vector<Bytes> expected = {
      {0x00, 0, 0, 0, 0, 0},                 // TEST UNIT READY
      {0x15, 0x10, 0, 0, 12, 0},             // MODE SELECT page 0x23
      {0x15, 0x00, 0, 0, 12, 0},             // MODE SELECT block descriptor
      {0xE6, 0, 0, 0, 0, 1, 0x01, 0, 0, 0},  // OPEN TRACK 1, Mode 1
      {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0},     // SYNCHRONIZE CACHE
      {0xE9, 0, 0, 0, 0, 0, 0, 0, 0x09, 0},  // FIXATION mode 1, session
  };
  ASSERT_EQ(transport->commands.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(transport->commands[i].cdb, expected[i]) << i;
  EXPECT_EQ(transport->commands[1].data_out, Bytes({0, 0, 0, 0, 0x23, 6, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(transport->commands[2].data_out, Bytes({0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0}));
}

TEST(BlockWriter, FlushesWholeBuffersAndPadsTheLastBlock) {
  FakeRecorder recorder;
  BlockWriter writer(2048, recorder);
  writer.flush();
  EXPECT_TRUE(recorder.writes.empty());
  const std::string bytes = pattern(3000, 6);
  writer.append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  EXPECT_TRUE(recorder.writes.empty());
  writer.flush();
  ASSERT_EQ(recorder.writes.size(), 1u);
  Bytes expected(bytes.begin(), bytes.end());
  expected.resize(2 * 2048, 0);  // the second block ends in 1096 zero bytes
  EXPECT_EQ(recorder.writes[0], expected);
  EXPECT_EQ(recorder.nextWriteAddress, 2);

  // Appends of any length: every full buffer (31 blocks) goes out in order.
  FakeRecorder big;
  BlockWriter staged(2048, big);
  const std::string stream = pattern(200000, 8);
  staged.append(reinterpret_cast<const uint8_t*>(stream.data()), 1000);
  staged.append(reinterpret_cast<const uint8_t*>(stream.data()) + 1000, 65535);
  staged.append(reinterpret_cast<const uint8_t*>(stream.data()) + 66535, 200000 - 66535);
  staged.flush();
  ASSERT_EQ(big.writes.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(big.writes[i].size(), 31u * 2048);
  Bytes all = concat(big.writes);
  ASSERT_EQ(all.size(), 98u * 2048);
  EXPECT_EQ(Bytes(all.begin(), all.begin() + 200000), Bytes(stream.begin(), stream.end()));
  EXPECT_EQ(Bytes(all.begin() + 200000, all.end()), Bytes(98 * 2048 - 200000, 0));
}

}  // namespace
