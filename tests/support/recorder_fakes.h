// Test support for recorder drivers and the engine: a recorder whose slots
// answer from a script, an event log, and a check of raw Mode 1 sectors
// (raised_text comes with support/raised.h).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "common/sector.h"
#include "drivers/recorder_driver.h"
#include "drivers/recording_events.h"
#include "support/raised.h"

namespace cdm_test {

using Bytes = std::vector<uint8_t>;

// A recorder whose slots answer from a script and keep what Write was given.
class FakeRecorder : public RecorderDriver {
 public:
  FakeRecorder() {
    host_adapter = 2;
    target = 5;
  }
  ResultCode CloseTrack() override { return next(); }
  ResultCode FinalizeDisc(uint8_t, uint8_t) override { return next(); }
  ResultCode OpenTrack(const TrackEntry&) override { return next(); }
  ResultCode SetWritingBlockLength(uint8_t, uint16_t) override { return next(); }
  ResultCode SetWritingSpeed(uint8_t, uint8_t) override { return next(); }
  ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t) override {
    writes.emplace_back(buffer, buffer + std::size_t{block_size} * count);
    return next();
  }
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob&) override { return 1; }
  ResultCode EndDiscAtOnce(uint8_t) override { return 1; }

  ResultCode next() {
    if (results.empty()) return 1;
    const ResultCode result = results.front();
    results.erase(results.begin());
    return result;
  }
  std::vector<ResultCode> results;
  std::vector<Bytes> writes;
};

// Collects the events for its lifetime.
class EventLog {
 public:
  EventLog() {
    set_event_callback([this](const RecordingEvent& event) {
      types.push_back(event.type);
      return 1;
    });
  }
  ~EventLog() { clear_event_callback(); }
  std::vector<uint16_t> types;
};

// True when a raw Mode 1 sector's EDC and P/Q parity match its contents.
inline bool valid_mode1_sector(const uint8_t* sector) {
  uint32_t stored = 0;
  std::memcpy(&stored, sector + MODE1_EDC_OFFSET, 4);  // little-endian on this machine
  if (stored != sector_edc(sector)) return false;
  Bytes copy(sector, sector + RAW_SECTOR_SIZE);
  std::memset(&copy[P_PARITY_OFFSET], 0, RAW_SECTOR_SIZE - P_PARITY_OFFSET);
  compute_ecc(copy.data(), false);
  return std::memcmp(copy.data(), sector, RAW_SECTOR_SIZE) == 0;
}

}  // namespace cdm_test
