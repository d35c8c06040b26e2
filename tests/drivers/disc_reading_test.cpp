// The disc-level reads of the generic reader against scripted drive answers:
// the table of contents into a layout, catalog number and ISRC validity, the
// search for the last readable sector and where a session's last track ends.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "drivers/cd_reader.h"
#include "support/raised.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::raised_text;

using cdm_test::check_reply;
using cdm_test::good_reply;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using cdm_test::ScriptedReply;
using Bytes = std::vector<uint8_t>;

struct TocEntry {
  uint8_t control;
  uint8_t track;
  uint32_t lba;
};

// A READ TOC answer: header and one descriptor per entry.
Bytes toc_answer(const std::vector<TocEntry>& entries) {
  Bytes data(4, 0);
  for (const TocEntry& e : entries) {
    data.insert(data.end(), {0, static_cast<uint8_t>(0x10 | e.control), e.track, 0,
                             static_cast<uint8_t>(e.lba >> 24), static_cast<uint8_t>(e.lba >> 16),
                             static_cast<uint8_t>(e.lba >> 8), static_cast<uint8_t>(e.lba)});
  }
  const std::size_t length = data.size() - 2;
  data[0] = static_cast<uint8_t>(length >> 8);
  data[1] = static_cast<uint8_t>(length);
  data[2] = entries.front().track;
  data[3] = entries.size() > 1 ? entries[entries.size() - 2].track : entries.front().track;
  return data;
}

// A READ SUB-CHANNEL answer of format 2 or 3 with the validity bit and text.
Bytes subchannel_answer(uint8_t format, bool valid, const std::string& text) {
  Bytes data(24, 0);
  data[3] = 20;
  data[4] = format;
  data[8] = valid ? 0x80 : 0;
  std::copy(text.begin(), text.end(), data.begin() + 9);
  return data;
}

class DiscReading : public testing::Test {
 protected:
  std::vector<Bytes> cdbs() const {
    std::vector<Bytes> out;
    for (const auto& command : transport->commands) out.push_back(command.cdb);
    return out;
  }
  ScopedTransport<RecordingTransport> transport;
  CdReader reader;
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
};

TEST_F(DiscReading, TableOfContentsFillsHeaderAndTracks) {
  layout->cuepoints[0].minute = 9;      // cuepoints are not touched
  layout->tracks[7].track_number = 42;  // stale entries are cleared
  transport->push_reply(good_reply());  // TEST UNIT READY
  transport->push_reply(
      good_reply(toc_answer({{0x4, 1, 0}, {0x2, 2, 1200}, {0x9, 3, 5000}, {0x0, 0xAA, 9000}})));
  reader.ReadDiscToc(layout.get(), false, false, false);
  EXPECT_EQ(cdbs(),
            std::vector<Bytes>({{0x00, 0, 0, 0, 0, 0}, {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}}));
  EXPECT_EQ(layout->first_track, 1);
  EXPECT_EQ(layout->track_count, 3);
  EXPECT_EQ(layout->leadout_position, 9000u);
  EXPECT_EQ(layout->tracks[0].track_flags, TRACK_DATA);
  EXPECT_EQ(layout->tracks[1].track_flags, TRACK_DCP);
  EXPECT_EQ(layout->tracks[2].track_flags, TRACK_4CH | TRACK_PRE);
  EXPECT_EQ(layout->tracks[2].start, 5000u);
  EXPECT_EQ(layout->tracks[3].track_number, LEADOUT_TRACK);
  EXPECT_EQ(layout->tracks[3].start, 9000u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(layout->tracks[i].read_from_disc, 1);
  EXPECT_EQ(layout->tracks[0].sector_mode, 0);  // no mode probe without detect_modes
  EXPECT_EQ(layout->tracks[7].track_number, 0);
  EXPECT_EQ(layout->cuepoints[0].minute, 9);
}

TEST_F(DiscReading, ModesIsrcAndCatalogNumber) {
  transport->push_reply(good_reply());
  transport->push_reply(
      good_reply(toc_answer({{0x4, 1, 0}, {0x4, 2, 300}, {0x0, 3, 600}, {0x0, 0xAA, 900}})));
  transport->push_reply(good_reply());                       // MODE SELECT 2340
  transport->push_reply(good_reply({0xFF, 0xFF, 0xFF, 2}));  // header of track 1: mode 2
  transport->push_reply(good_reply(subchannel_answer(3, false, "")));
  transport->push_reply(good_reply());                                  // MODE SELECT 2340
  transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11));     // track 2 unreadable
  transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x24));  // no ISRC answer
  transport->push_reply(good_reply(subchannel_answer(3, true, "USABC9600001")));
  transport->push_reply(good_reply(subchannel_answer(2, true, "0123456789012")));
  reader.ReadDiscToc(layout.get(), true, true, true);

  const auto& commands = transport->commands;
  ASSERT_EQ(commands.size(), 10u);
  EXPECT_EQ(commands[2].data_out, Bytes({0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x24}));
  EXPECT_EQ(commands[3].cdb, Bytes({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}));  // READ(10) LBA 0
  EXPECT_EQ(commands[3].length(), 2340u);
  EXPECT_EQ(commands[6].cdb, Bytes({0x28, 0, 0, 0, 0x01, 0x2C, 0, 0, 1, 0}));   // LBA 300
  EXPECT_EQ(commands[8].cdb, Bytes({0x42, 0, 0x40, 0x03, 0, 0, 3, 0, 48, 0}));  // ISRC track 3
  EXPECT_EQ(commands[9].cdb, Bytes({0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 48, 0}));  // catalog

  EXPECT_EQ(layout->tracks[0].sector_mode, 2);
  EXPECT_EQ(layout->tracks[1].sector_mode, 0);
  EXPECT_EQ(layout->tracks[0].track_flags & TRACK_ISRC, 0);
  EXPECT_EQ(layout->tracks[1].track_flags & TRACK_ISRC, 0);
  EXPECT_EQ(layout->tracks[2].track_flags & TRACK_ISRC, TRACK_ISRC);
  EXPECT_EQ(std::string(layout->tracks[2].isrc.data(), 12), "USABC9600001");
  EXPECT_EQ(layout->layout_flags, LAYOUT_MCN);
  EXPECT_EQ(std::string(layout->catalog_number.data(), 13), "0123456789012");
}

TEST_F(DiscReading, DiscStartingAboveTrackOne) {
  transport->push_reply(good_reply());
  transport->push_reply(good_reply(toc_answer({{0x0, 3, 0}, {0x0, 4, 700}, {0x0, 0xAA, 900}})));
  transport->push_reply(good_reply(subchannel_answer(3, true, "GBXYZ9700002")));
  transport->push_reply(good_reply(subchannel_answer(3, false, "")));
  reader.ReadDiscToc(layout.get(), false, false, true);
  EXPECT_EQ(layout->first_track, 3);
  EXPECT_EQ(layout->track_count, 2);
  EXPECT_EQ(layout->tracks[0].track_number, 3);
  EXPECT_EQ(layout->tracks[1].track_number, 4);
  EXPECT_EQ(layout->tracks[2].track_number, LEADOUT_TRACK);
  EXPECT_EQ(transport->commands[2].cdb[6], 3);  // ISRC asked for track 3, not 1
  EXPECT_EQ(transport->commands[3].cdb[6], 4);
  EXPECT_EQ(std::string(layout->tracks[0].isrc.data(), 12), "GBXYZ9700002");
}

TEST_F(DiscReading, TocKeepsOnlyTheSentDescriptors) {
  transport->push_reply(good_reply());
  Bytes answer = toc_answer({{0x0, 1, 0}, {0x0, 2, 500}, {0x0, 0xAA, 700}});
  answer.resize(804, 0xEE);  // garbage beyond what the drive said it sent
  transport->push_reply(good_reply(answer));
  reader.ReadDiscToc(layout.get(), false, false, false);
  EXPECT_EQ(layout->track_count, 2);
  EXPECT_EQ(layout->leadout_position, 700u);
  EXPECT_EQ(layout->tracks[3].track_number, 0);
}

TEST_F(DiscReading, FullestTableOfContentsAtTheLastAddress) {
  // 99 tracks and a lead-out at 99:59:74 fill the 804 bytes exactly.
  std::vector<TocEntry> entries;
  for (uint8_t track = 1; track <= 99; ++track) entries.push_back({0x0, track, track * 4500u});
  entries.push_back({0x0, 0xAA, 449849});
  const Bytes answer = toc_answer(entries);
  ASSERT_EQ(answer.size(), 804u);
  transport->push_reply(good_reply());
  transport->push_reply(good_reply(answer));
  reader.ReadDiscToc(layout.get(), false, false, false);
  EXPECT_EQ(layout->track_count, 99);
  EXPECT_EQ(layout->tracks[98].start, 99u * 4500u);
  EXPECT_EQ(layout->leadout_position, 449849u);
  EXPECT_EQ(layout->tracks[99].track_number, LEADOUT_TRACK);
}

TEST_F(DiscReading, TablesOfContentsThatCannotBeListedRaise) {
  const auto answer_with_length = [](Bytes data, uint16_t length) {
    data[0] = static_cast<uint8_t>(length >> 8);
    data[1] = static_cast<uint8_t>(length);
    return data;
  };
  const Bytes two_tracks = toc_answer({{0x0, 1, 0}, {0x0, 2, 500}, {0x0, 0xAA, 700}});
  const struct {
    const char* what;
    Bytes answer;
    std::optional<uint32_t> transferred;
    const char* why;
  } rows[] = {
      {"nothing sent", two_tracks, 0, "READ TOC returned 0 bytes, too few for a table of contents"},
      {"part of the header", two_tracks, 3,
       "READ TOC returned 3 bytes, too few for a table of contents"},
      {"less than announced", two_tracks, 20, "READ TOC returned 20 of the 28 bytes it announced"},
      {"header only",
       answer_with_length(two_tracks, 2),
       {},
       "The table of contents lists no track"},
      {"lead-out only", toc_answer({{0x0, 0xAA, 700}}), {}, "The table of contents lists no track"},
      {"no lead-out",
       answer_with_length(two_tracks, 18),
       {},
       "The table of contents has no lead-out after track 2"},
      {"lead-out on the last track",
       toc_answer({{0x0, 1, 0}, {0x0, 2, 500}, {0x0, 0xAA, 500}}),
       {},
       "Lead-out at LBA 500 is not past track 2 at LBA 500"},
      {"lead-out at 0",
       toc_answer({{0x0, 1, 0}, {0x0, 0xAA, 0}}),
       {},
       "Lead-out at LBA 0 is not past track 1 at LBA 0"},
      {"track 0", toc_answer({{0x0, 0, 0}, {0x0, 0xAA, 700}}), {}, "Track number 0 is not a track"},
      {"numbers going down",
       toc_answer({{0x0, 2, 0}, {0x0, 1, 300}, {0x0, 0xAA, 700}}),
       {},
       "Track 1 follows track 2: tracks are not in ascending order"},
      {"number twice",
       toc_answer({{0x0, 1, 0}, {0x0, 1, 300}, {0x0, 0xAA, 700}}),
       {},
       "Track 1 follows track 1: tracks are not in ascending order"},
      {"starts going back",
       toc_answer({{0x0, 1, 300}, {0x0, 2, 200}, {0x0, 0xAA, 700}}),
       {},
       "Track 2 at LBA 200 does not start after track 1 at LBA 300"},
      {"negative start",
       toc_answer({{0x0, 1, 0xFFFFFF6A}, {0x0, 0xAA, 700}}),
       {},
       "Track 1 starts at LBA 4294967146, past the end of any disc"},
      {"lead-out past 99:59:74",
       toc_answer({{0x0, 1, 0}, {0x0, 0xAA, 449850}}),
       {},
       "Lead-out at LBA 449850 is past the end of any disc"},
  };
  for (const auto& row : rows) {
    transport->commands.clear();
    transport->push_reply(good_reply());
    ScriptedReply reply = good_reply(row.answer);
    reply.transferred = row.transferred;
    transport->push_reply(reply);
    EXPECT_EQ(raised_text([&] { reader.ReadDiscToc(layout.get(), true, true, true); }),
              std::string("\nError: Invalid table of contents on device 0:0:0\n") + row.why + "\n")
        << row.what;
    EXPECT_EQ(transport->commands.size(), 2u) << row.what;  // nothing read after READ TOC
  }
}

TEST_F(DiscReading, ReadTocFailureRaises) {
  transport->push_reply(good_reply());
  transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x24));
  EXPECT_EQ(raised_text([&] { reader.ReadDiscToc(layout.get(), false, false, false); }),
            "\nError: 'READ TOC' command failed on device 0:0:0\nIllegal command request\n");
}

TEST_F(DiscReading, CatalogNumberValidity) {
  struct Case {
    bool valid_bit;
    std::string digits;
    int expected;
  };
  const Case cases[] = {
      {true, "0123456789012", 1}, {false, "0123456789012", 0},  // MCVal clear
      {true, "012345678901A", 0},                               // a letter
      {true, "01234 6789012", 0},                               // a blank
      {true, "012345678901", 0},                                // twelve digits, a zero byte last
  };
  for (const Case& c : cases) {
    transport->push_reply(good_reply(subchannel_answer(2, c.valid_bit, c.digits)));
    char out[13] = {};
    EXPECT_EQ(reader.ReadCatalogNumber(out, false), c.expected) << c.digits;
    if (c.expected) {
      EXPECT_EQ(std::string(out, 13), c.digits);
    }
  }
  transport->push_reply(check_reply(SENSE_KEY_NOT_READY, 0x3A));
  char out[13] = {};
  EXPECT_EQ(reader.ReadCatalogNumber(out, false), 0);
  transport->push_reply(check_reply(SENSE_KEY_NOT_READY, 0x3A));
  EXPECT_THROW(reader.ReadCatalogNumber(out, true), MSGVEC);
}

TEST_F(DiscReading, IsrcValidity) {
  struct Case {
    bool valid_bit;
    std::string code;
    int expected;
  };
  const Case cases[] = {
      {true, "USABC9600001", 1},                              // five letters, seven digits
      {true, "US0009600001", 1},                              // two letters, three digits
      {true, "123459600001", 1},                              // digits only
      {true, "USABCD600001", 0},                              // a letter in position 6
      {true, "USABC96000A1", 0},                              // a letter late
      {true, "usabc9600001", 0},                              // lower case
      {true, "US-BC9600001", 0}, {false, "USABC9600001", 0},  // TCVal clear
  };
  for (const Case& c : cases) {
    transport->push_reply(good_reply(subchannel_answer(3, c.valid_bit, c.code)));
    char out[12] = {};
    EXPECT_EQ(reader.ReadTrackIsrc(5, out, false), c.expected) << c.code;
    if (c.expected) {
      EXPECT_EQ(std::string(out, 12), c.code);
    }
  }
}

// A drive whose READ CAPACITY says `last` and whose sectors from
// `first_bad` on fail.
class LastReadable : public DiscReading {
 protected:
  void drive(uint32_t last, uint32_t first_bad) {
    transport->responder = [last, first_bad](ScsiRequest& request) {
      request.srb_status = SS_COMP;
      if (request.cdb[0] == 0x25) {
        const uint8_t data[8] = {static_cast<uint8_t>(last >> 24),
                                 static_cast<uint8_t>(last >> 16),
                                 static_cast<uint8_t>(last >> 8),
                                 static_cast<uint8_t>(last),
                                 0,
                                 0,
                                 0x08,
                                 0};
        std::memcpy(request.buffer, data, 8);
        return;
      }
      const uint32_t lba = (uint32_t{request.cdb[2]} << 24) | (uint32_t{request.cdb[3]} << 16) |
                           (uint32_t{request.cdb[4]} << 8) | request.cdb[5];
      if ((request.cdb[0] == 0x28 || request.cdb[0] == 0xD8) && lba >= first_bad)
        RecordingTransport::apply(check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11), request);
    };
  }
};

TEST_F(LastReadable, AllSeventyFiveReadGivesTheCapacity) {
  drive(10000, 20000);
  EXPECT_EQ(reader.FindLastReadableSector(true), 10000u);
  const auto& commands = transport->commands;
  ASSERT_EQ(commands.size(), 76u);  // READ CAPACITY, no select for audio, 75 reads
  EXPECT_EQ(commands[0].cdb, Bytes({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // READ CD-DA of one sector at 10000 - 74 = 9926 (26C6h)
  EXPECT_EQ(commands[1].cdb, Bytes({0xD8, 0, 0, 0, 0x26, 0xC6, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(commands[75].cdb[5], 0x10);  // 2710h = 10000
}

TEST_F(LastReadable, StopsBeforeTheFirstFailure) {
  drive(10000, 9990);
  EXPECT_EQ(reader.FindLastReadableDataSector(2048), 9989u);
  EXPECT_EQ(transport->commands[1].data_out, Bytes({0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0x00}));
  EXPECT_EQ(transport->commands.back().cdb[0], 0x28);
}

TEST_F(LastReadable, FirstOfTheWindowFailingRaises) {
  drive(10000, 9926);
  EXPECT_EQ(raised_text([&] { reader.FindLastReadableSector(true); }),
            "\nError: Unable to find last readable sector\n");
  EXPECT_EQ(transport->commands.size(), 2u);
}

TEST_F(LastReadable, ShortDiscIsSearchedFromItsStart) {
  drive(40, 30);
  EXPECT_EQ(reader.FindLastReadableSector(true), 29u);
  EXPECT_EQ(transport->commands[1].cdb[5], 0);  // first read at LBA 0
}

// Where a track ends: before the next entry, or, where the next track opens
// a later session, before this track's session lead-out, found from READ
// TOC format 1 or, on a drive that refuses it, from a data track after audio.
TEST_F(DiscReading, TrackEndsAtItsSessionsLeadOut) {
  constexpr uint8_t AUDIO = 0x00, DATA = 0x04;
  const struct {
    const char* why;
    std::vector<TocEntry> toc;      // the lead-out last
    std::optional<Bytes> sessions;  // READ TOC format 1, or refused
    unsigned index;
    uint32_t last;
  } cases[] = {
      {"two sessions",
       {{AUDIO, 1, 0}, {AUDIO, 2, 11700}, {AUDIO, 0xAA, 11900}},
       Bytes{0, 10, 1, 2, 0, 0x10, 2, 0, 0, 0, 0x2D, 0xB4},
       0,
       299},
      {"third session",
       {{AUDIO, 1, 0}, {AUDIO, 2, 20000}, {DATA, 3, 30000}, {DATA, 0xAA, 31000}},
       Bytes{0, 10, 1, 3, 0, 0x14, 3, 0, 0, 0, 0x75, 0x30},
       1,
       30000 - 6900 - 1},
      {"one session",
       {{AUDIO, 1, 0}, {AUDIO, 2, 11700}, {AUDIO, 0xAA, 11900}},
       Bytes{0, 10, 1, 1, 0, 0x10, 1, 0, 0, 0, 0, 0},
       0,
       11699},
      {"data after audio, no session format",
       {{AUDIO, 1, 0}, {DATA, 2, 20000}, {DATA, 0xAA, 21000}},
       std::nullopt,
       0,
       20000 - 11400 - 1},
      {"audio after audio, no session format",
       {{AUDIO, 1, 0}, {AUDIO, 2, 20000}, {AUDIO, 0xAA, 21000}},
       std::nullopt,
       0,
       19999},
      {"the last track",
       {{AUDIO, 1, 0}, {AUDIO, 2, 11700}, {AUDIO, 0xAA, 11900}},
       std::nullopt,
       1,
       11899},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    transport->commands.clear();
    transport->push_reply(good_reply());  // TEST UNIT READY
    transport->push_reply(good_reply(toc_answer(c.toc)));
    reader.ReadDiscToc(layout.get(), false, false, false);
    if (c.sessions) {
      transport->push_reply(good_reply(*c.sessions));
    } else if (c.index + 2 < c.toc.size()) {
      transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x24));
    }
    EXPECT_EQ(track_last_sector(reader, *layout, c.index), c.last);
    // The last track asks nothing: the lead-out ends it.
    const bool asks = c.index + 2 < c.toc.size();
    ASSERT_EQ(transport->commands.size(), asks ? 3u : 2u);
    // READ TOC format 1 (in bits 6-7 of byte 9), LBA addresses, 12 bytes
    if (asks) {
      EXPECT_EQ(transport->commands[2].cdb, Bytes({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0x40}));
    }
  }
}

}  // namespace
