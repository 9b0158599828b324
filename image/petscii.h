// C64 file names (PETSCII bytes) as text that a terminal shows and a user
// types back, one mapping both ways:
//   0x20-0x40, 0x5B, 0x5D   as themselves (space, digits, signs, @ [ ])
//   0x41-0x5A               A-Z  (the plain letters: capitals on a C64)
//   0xC1-0xDA               a-z  (shifted letters: small letters in the
//                                 C64's other character set)
//   0x5C 0x5E 0x5F 0xFF     £ ↑ ← π
//   every other byte        {$xx}, two lower-case hex digits
// Typed text may give any byte as {$xx} (either case of hex digits).
#pragma once

#include <string>

// The text of PETSCII bytes.
std::string petscii_to_text(const std::string &petscii);

// The PETSCII bytes of typed text; false when it holds a character that has
// no C64 form here (then *petscii is left as it was).
bool petscii_from_text(const std::string &text, std::string *petscii);

// A C64 name for a PC file name: letters as the plain C64 letters, so that
// the name lists in capitals; what has no C64 form becomes '-'.  At most
// 16 bytes.
std::string petscii_name_from_file_name(const std::string &name);
