#include "emulator/recorder_tray.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class RecorderTray : public EmulatedTray {
 public:
  explicit RecorderTray(std::shared_ptr<RecorderDrive> drive) : drive_(std::move(drive)) {}

  bool open() const override { return drive_->reading().tray_open; }
  bool holds_disc() const override { return drive_->reading().ejected != nullptr; }
  bool holds_recording() const override {
    return holds_disc() && !drive_->disc()->stored().tracks.empty();
  }
  const std::string& disc_path() const override { return drive_->disc()->path(); }

  bool take_disc(const std::string& keep_path) override {
    const std::string& path = disc_path();
    if (holds_recording()) {
      // The sheet names its image by the file's own name: it follows the image.
      std::ifstream in(path + ".cue", std::ios::binary);
      std::stringstream sheet;
      sheet << in.rdbuf();
      std::string text = sheet.str();
      const std::string old_name = "\"" + base_name(path) + ".bin\"";
      const std::size_t at = text.find(old_name);
      if (!in || at == std::string::npos) return false;
      text.replace(at, old_name.size(), "\"" + base_name(keep_path) + ".bin\"");
      std::ofstream out(keep_path + ".cue", std::ios::binary | std::ios::trunc);
      out << text;
      out.close();
      if (!out || std::rename((path + ".bin").c_str(), (keep_path + ".bin").c_str()) != 0 ||
          std::rename((path + ".state").c_str(), (keep_path + ".state").c_str()) != 0)
        return false;
      std::remove((path + ".cue").c_str());
    }
    const int32_t capacity = drive_->disc()->stored().capacity;
    drive_->replace_disc(std::make_unique<RecordedDisc>(path, capacity));
    drive_->reading().ejected.reset();
    return true;
  }

  void put_blank() override {
    drive_->reading().ejected = std::make_unique<EmulatedMedium>(disc_path());
  }

 private:
  std::shared_ptr<RecorderDrive> drive_;
};

}  // namespace

std::shared_ptr<EmulatedTray> make_recorder_tray(std::shared_ptr<RecorderDrive> drive) {
  return std::make_shared<RecorderTray>(std::move(drive));
}
