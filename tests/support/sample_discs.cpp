#include "support/sample_discs.h"

#include <cstdio>
#include <stdexcept>

#include "common/sector.h"
#include "common/timecode.h"
#include "support/cue_images.h"

namespace {

std::string msf_text(uint32_t frames) {
  const MsfTime time = frames_to_msf(static_cast<int32_t>(frames));
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", time.minute, time.second, time.frame);
  return text;
}

const char* type_keyword(TrackType type) {
  switch (type) {
    case TrackType::Mode1: return "MODE1/2352";
    case TrackType::Mode2: return "MODE2/2352";
    default: return "AUDIO";
  }
}

}  // namespace

std::vector<uint8_t> sample_frame(TrackType type, uint32_t lba) {
  std::vector<uint8_t> frame(RAW_SECTOR_SIZE);
  if (type == TrackType::Audio) {
    for (std::size_t i = 0; i < frame.size(); ++i)
      frame[i] = static_cast<uint8_t>(lba * 7 + i * 13 + (i >> 8));
    return frame;
  }
  std::vector<uint8_t> data(DATA_BLOCK_SIZE);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(lba * 3 + i * 5);
  const uint8_t subheader[4] = {0, 0, SUBMODE_DATA, 0};
  build_sector(frame.data(), type == TrackType::Mode1 ? SECTOR_MODE1 : SECTOR_MODE2_FORM1,
               static_cast<int32_t>(lba), subheader, data.data(), false, false, false);
  return frame;
}

std::vector<uint32_t> sample_track_starts(const SampleDisc& disc) {
  std::vector<uint32_t> starts;
  uint32_t position = 0;
  for (const SampleTrack& track : disc.tracks) {
    position += track.index0;
    starts.push_back(position);
    position += track.frames;
  }
  starts.push_back(position);
  return starts;
}

std::string write_sample_disc(const std::string& folder, const std::string& name,
                              const SampleDisc& disc) {
  std::string sheet;
  if (!disc.catalog.empty()) sheet += "CATALOG " + disc.catalog + "\n";
  sheet += "FILE \"" + name + ".bin\" BINARY\n";
  std::vector<uint8_t> image;
  uint32_t lba = 0;
  for (std::size_t t = 0; t < disc.tracks.size(); ++t) {
    const SampleTrack& track = disc.tracks[t];
    char number[4];
    std::snprintf(number, sizeof number, "%02u", static_cast<unsigned>(disc.first_track + t));
    sheet += std::string("  TRACK ") + number + " " + type_keyword(track.type) + "\n";
    if (!track.flags.empty()) sheet += "    FLAGS " + track.flags + "\n";
    if (!track.isrc.empty()) sheet += "    ISRC " + track.isrc + "\n";
    if (track.index0 > 0) sheet += "    INDEX 00 " + msf_text(lba) + "\n";
    sheet += "    INDEX 01 " + msf_text(lba + track.index0) + "\n";
    const std::vector<uint32_t> none;
    const std::vector<uint32_t>& indexes = t < disc.indexes.size() ? disc.indexes[t] : none;
    for (std::size_t i = 0; i < indexes.size(); ++i)
      sheet += "    INDEX " + std::string(i < 8 ? "0" : "") + std::to_string(i + 2) + " " +
               msf_text(lba + track.index0 + indexes[i]) + "\n";
    for (uint32_t i = 0; i < track.index0 + track.frames; ++i, ++lba) {
      const std::vector<uint8_t> frame = sample_frame(track.type, lba);
      image.insert(image.end(), frame.begin(), frame.end());
    }
  }
  write_bytes(folder + "/" + name + ".bin", image);
  const std::string path = folder + "/" + name + ".cue";
  write_bytes(path, std::vector<uint8_t>(sheet.begin(), sheet.end()));
  return path;
}
