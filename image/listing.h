// The directory listing text of an image: what a C64 shows after loading "$".
// PETSCII lines, each ended by a carriage return.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>

// Appends the listing of the image's directory to text: the header line, one
// line per entry (scratched slots only with include_scr), the free-blocks
// line. Returns the number of lines appended; *loop is 1 if the directory
// chain came back to a sector already listed.
int d64_create_directory_listing(const uint8_t *image, GString *text, int include_scr, int *loop);

// Listing form of a name field (16 name bytes or the 5 ID bytes): zero rule,
// all-zero field empty, carriage returns made harmless, trailing $A0 cut.
// out must hold length + 1 bytes.
void d64_normalize_listing_name(const uint8_t *field, int length, char *out);
// The quoted name of an entry line: the part before the first $A0 inside
// quotes, the rest after the closing quote with bit 7 cleared. out: 19 bytes.
void d64_quote_listing_name(const char *normalized, char *out);

// PETSCII as readable UTF-8 text: plain letters as capitals, as a C64 shows
// them after switching on; shifted letters (graphics there) as small letters,
// which is how they read in the C64's other character set; control codes as
// nothing; other graphics as '?'.  Names typed for get, put and scratch go to
// the drive byte for byte, so "GAME" matches what dir shows as GAME.
std::string d64_petscii_readable(const char *petscii);
