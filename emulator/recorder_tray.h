// The tray of an emulated recorder as a disc transporter works it: the disc
// lying in the open tray is the recorder's RecordedDisc (PATH.cue, .bin and
// .state); taking a recorded one out moves its files to another name, and a
// blank disc put in is a RecordedDisc whose files do not exist.
#pragma once

#include <memory>

#include "emulator/device.h"
#include "emulator/recorder_drive.h"

// The tray of a recorder given medium=PATH.
std::shared_ptr<EmulatedTray> make_recorder_tray(std::shared_ptr<RecorderDrive> drive);
