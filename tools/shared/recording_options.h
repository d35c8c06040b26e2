// What the recording programs share beyond the recorder's address: the
// speed the recorder records at, the device line that shows it, and the
// switches of verification after recording.
#pragma once

#include <cstdint>
#include <string>

#include "common/switches.h"
#include "drivers/cd_reader.h"
#include "drivers/recorder_driver.h"

// The speed code the recording uses: the one asked for, or the recorder's
// maximum when it is not below it.
uint8_t clamp_speed_code(uint16_t speed, uint8_t max_write_speed);

// 1, 2, 4 or 6 for speed codes 0 to 3 (1 for any other).
unsigned speed_factor(uint8_t speed_code);

// The speed of a recording: what the job and SetWritingSpeed take (a
// SpeedCode, or a factor on a recorder that reports its speeds), the factor
// it stands for, and a note to show when the factor asked for is not one
// of the recorder's.
struct RecordingSpeed {
  uint8_t speed = SPEED_1X;
  unsigned factor = 1;
  std::string note;
};

// The speed for the factor asked by /SPEED= (0: none asked, the recorder's
// fastest). A recorder that reports its speeds takes a factor it lists, or
// the next lower one it lists (the slowest when none is lower) with the
// note "Note: The CD-Recorder does not record at %ux: recording at %ux\n".
// Any other takes 1, 2, 4 or 6 (lowered to its maximum); another factor
// prints "Error: Illegal recording speed specified!\n" and throws
// ToolExit{1}.
RecordingSpeed resolve_recording_speed(const RecorderDriver& recorder, uint16_t factor);

// The device line of the recorder found, "  HA #%u - SCSI ID #%u - %.8s
// %.16s %.4s\n", with " at %ux" before the line end for a recorder that
// reports its speeds, "  Buffer underrun protection: on\n" for one that
// records with it, and an empty line.
std::string recorder_found_text(const RecorderDriver& recorder, const RecordingSpeed& speed);

// Verification after recording, "/VERIFY" (through the recorder) or
// "/VERIFY=ha:id:lun" (through that reader).
struct VerifyChoice {
  bool verify = false;
  bool address_given = false;
  DeviceAddress address;
};
// A value that does not scan fails with "Error: Illegal /VERIFY format!\n".
SwitchRule verify_switch(VerifyChoice* choice);

// The drive that reads the disc back: the recorder, or the reader or
// recorder at the address /VERIFY= gave (choose_reader's errors).
CdReader& verifying_reader(const VerifyChoice& choice, RecorderDriver& recorder);

// Blanking before recording: "/BLANK=FAST" (the table of contents) or
// "/BLANK=FULL" (every block); another value fails with "Error: Illegal
// /BLANK format!\n".
enum class BlankMode { None, Fast, Full };
SwitchRule blank_switch(BlankMode* mode);

// Refuses blanking, before anything is sent, on a recorder whose family
// cannot blank ("Error: CD-Recorder does not support blanking!\n") and in
// a test recording, which must leave the disc as it is ("Error: /BLANK
// erases the disc and cannot go with /TEST!\n"); ToolExit{1}.
void check_blanking(const RecorderDriver& recorder, BlankMode mode, bool test);
