// The directory listing text of an image: what a C64 shows after loading "$".
// PETSCII lines, each ended by a carriage return.
#pragma once

#include <glib.h>

#include <cstdint>

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
