// C64 BASIC programs as text: the drive's "$" directory program and any
// tokenised program, both loaded at $0801.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>

constexpr unsigned BASIC_START = 0x0801;
// A program never holds more lines than this; more means a link loop.
constexpr int BASIC_MAX_LINES = 6484;

// Rebuilds every line link of a received "$" program from the line
// terminators; $00 bytes inside a name are turned into '@'. 1 on success,
// 0 if the data is malformed or runs out.
int basic_relink_directory_listing(uint8_t *program, size_t size);

// Appends the listing text converted from a (relinked) "$" program: each line
// as "<number mod 1000> <text>\r". 1 at the end link, 0 on malformed data
// (what was appended so far stays).
int basic_list_directory_contents(const uint8_t *program, size_t size, GString *text);

// Appends up to max_lines lines of the program with keywords expanded and
// control codes escaped, separated by line feeds. 1 at the end link or the
// line limit, 0 on malformed data.
int basic_list_basic_program_escaped(const uint8_t *program, size_t size, int max_lines, GString *text);

