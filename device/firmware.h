// The device firmware the client carries and the file it is flashed from.
//
// The image is an Intel HEX text embedded at build time from the file named
// by the CMake cache variable DRAVLEN_FIRMWARE_HEX (default
// device/firmware/dravlen32u4.hex).  The file in this repository is a small
// TEST image (a loop and a text saying so), not the board's firmware, which
// cannot be shipped here; packagers supply the real one (see README.md).
#pragma once

// Version of the firmware the client offers; the version check judges the
// device against major and minor.
constexpr int FIRMWARE_VERSION_MAJOR = 2;
constexpr int FIRMWARE_VERSION_MINOR = 4;
constexpr int FIRMWARE_VERSION_PATCH = 0;

// The Intel HEX text, every record ended by CR LF (generated source).
extern const char firmware[];
extern const int firmware_record_count;
// 1 when the embedded image is the repository's test image (its data says
// "NOT THE DEVICE FIRMWARE"), decided when the source is generated: such a
// build carries no board firmware and flashes only a file the user names.
extern const int firmware_is_test_image;
// The name of the file the image was embedded from, for questions.
extern const char firmware_source_name[];

// Relative: it lies in the current working folder, where avrdude finds it.
extern const char firmware_file_name[];

// Writes the payload followed by one zero byte to firmware_file_name,
// replacing any old file.  1 on success.
int firmware_save_firmware(void);
// The same file in `folder` instead of the current one.
int firmware_save_firmware_in(const char *folder);
// Deletes the file; a missing file is no error.  1 on success.
int firmware_unlink_firmware(void);

// What the version text says about the device against the firmware the
// client carries: "current", "should upgrade", "should downgrade", or
// "unknown version" when the text does not begin with "<major>.<minor>".
// Untranslated (marked for translation).
const char *firmware_version_verdict(const char *version);
