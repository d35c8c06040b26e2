#include "support/rip_discs.h"

#include <fstream>

#include "support/patterns.h"
#include "support/scsi_fakes.h"

namespace ripspan_test {

SampleDisc audio_disc(uint32_t frames) {
  SampleDisc disc;
  disc.tracks.push_back({TrackType::Audio, frames, 0, "", ""});
  return disc;
}

Disc::Disc(const std::string& folder, const SampleDisc& disc, const std::string& drive_items)
    : cue(write_sample_disc(folder, "disc", disc)), bin(folder + "/disc.bin"), items(drive_items) {}

void Disc::silence(uint32_t first, uint32_t last) const {
  std::fstream image(bin, std::ios::in | std::ios::out | std::ios::binary);
  image.seekp(static_cast<std::streamoff>(first) * RAW);
  const std::string zeros(std::size_t{last - first + 1} * RAW, '\0');
  image.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
}

std::string Disc::frames(uint32_t first, uint32_t last) const {
  return read_file(bin).substr(std::size_t{first} * RAW, std::size_t{last - first + 1} * RAW);
}

ProgramRun Disc::rip(const std::vector<std::string>& arguments, const std::string& input) const {
  cdm_test::ScopedEnv bus("EMULATED_SCSI_BUS", "0:3:0=" + product + ",medium=" + cue + items);
  cdm_test::ScopedEnv no_reader_id("CDREADER_ID", std::nullopt);
  cdm_test::ScopedEnv no_trace("TRACE_SCSI_ENABLED", std::nullopt);
  return run_program("ripspan", arguments, "", input);
}

WavReadBack read_wav_with_python(const std::string& path) {
  const std::string samples = path + ".samples";
  const ProgramRun run = run_command(
      "python3", {"-c",
                  "import sys, wave\n"
                  "w = wave.open(sys.argv[1], 'rb')\n"
                  "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(),"
                  " end='')\n"
                  "open(sys.argv[2], 'wb').write(w.readframes(w.getnframes()))\n",
                  path, samples});
  return {run.status == 0 ? run.out : run.err, read_file(samples)};
}

uint32_t le32_at(const std::string& bytes, std::size_t at) {
  if (bytes.size() < at + 4) return 0;
  const auto byte = [&](std::size_t i) { return uint32_t{static_cast<uint8_t>(bytes[at + i])}; };
  return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

bool is_track_report(const std::string& text) {
  static const cdm_test::Pattern lines(
      "(Track \\d\\d( \\(part\\))?: copy CRC [0-9A-F]{8}, AccurateRip v1 [0-9A-F]{8}, "
      "v2 [0-9A-F]{8}\n)+");
  return lines.matches(text);
}

std::string device_lines() {
  return "CDROM device found...\n"
         "  HA #0 - SCSI ID #3 - EMULATED MYSTERY CDROM    1.00\n\n"
         "Warning: CDROM device model is unknown to this program!\n"
         "The generic CDROM device driver will be used...\n\n";
}

}  // namespace ripspan_test
