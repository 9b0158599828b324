#include "image/basic.h"

namespace {

// Commodore BASIC V2 keywords, tokens $80 to $CB.
const char *const cmd[76] = {
    "END",   "FOR",  "NEXT",   "DATA", "INPUT#", "INPUT", "DIM",   "READ",  "LET",  "GOTO",
    "RUN",   "IF",   "RESTORE", "GOSUB", "RETURN", "REM", "STOP",  "ON",    "WAIT", "LOAD",
    "SAVE",  "VERIFY", "DEF",  "POKE", "PRINT#", "PRINT", "CONT",  "LIST",  "CLR",  "CMD",
    "SYS",   "OPEN", "CLOSE",  "GET",  "NEW",    "TAB(",  "TO",    "FN",    "SPC(", "THEN",
    "NOT",   "STEP", "+",      "-",    "*",      "/",     "^",     "AND",   "OR",   ">",
    "=",     "<",    "SGN",    "INT",  "ABS",    "USR",   "FRE",   "POS",   "SQR",  "RND",
    "LOG",   "EXP",  "COS",    "SIN",  "TAN",    "ATN",   "PEEK",  "LEN",   "STR$", "VAL",
    "ASC",   "CHR$", "LEFT$",  "RIGHT$", "MID$", "GO",
};

// Control codes $00-$1F, in and out of quotes.
const char *const ctrl1[32] = {
    ".", ".", ".", ".", ".", "{WHITE}", ".", ".",
    "{LOCK}", "{UNLOCK}", ".", ".", ".", "{RETURN}", "{LOWER CASE}", ".",
    ".", "{CRSR DOWN}", "{REVS ON}", "{HOME}", "{DEL}", ".", ".", ".",
    ".", ".", ".", ".", "{RED}", "{CRSR RIGHT}", "{GREEN}", "{BLUE}",
};

// Codes $80-$A0 inside quotes.
const char *const ctrl2[33] = {
    ".", "{ORANGE}", ".", ".", ".", "{F1}", "{F3}", "{F5}",
    "{F7}", "{F2}", "{F4}", "{F6}", "{F8}", "{SHIFT+RETURN}", "{UPPER CASE}", ".",
    "{BLACK}", "{CRSR UP}", "{REVS OFF}", "{CLEAR}", "{INSERT}", "{BROWN}", "{LIGHT RED}", "{DARK GREY}",
    "{MEDIUM GREY}", "{LIGHT GREEN}", "{LIGHT BLUE}", "{LIGHT GREY}", "{PURPLE}", "{CRSR LEFT}", "{YELLOW}", "{CYAN}",
    "{SHIFT+SPACE}",
};

constexpr unsigned TOKEN_FIRST = 0x80;
constexpr unsigned TOKEN_LAST = 0xCB;

unsigned read_le16(const uint8_t *p)
{
    return (unsigned)p[0] | ((unsigned)p[1] << 8);
}

bool has_basic_load_address(const uint8_t *program, size_t size)
{
    return size >= 4 && read_le16(program) == BASIC_START;
}

// Offset in the program data (load address included) of a memory address.
size_t offset_of_address(unsigned address)
{
    return (size_t)(address - BASIC_START) + 2;
}

void append_escaped_byte(GString *text, uint8_t c, bool in_quotes)
{
    if (c >= 0x20 && c <= 0x7E)
        g_string_append_c(text, (char)c);
    else if (c < 0x20)
        g_string_append(text, ctrl1[c]);
    else if (c >= TOKEN_FIRST && c <= TOKEN_LAST && !in_quotes)
        g_string_append(text, cmd[c - TOKEN_FIRST]);
    else if (c >= TOKEN_FIRST && c <= 0xA0)
        g_string_append(text, ctrl2[c - TOKEN_FIRST]);
    else
        g_string_append_c(text, '.');
}

// One walk over the lines of a program at $0801, shared by both listers.
// escaped selects the keyword listing, otherwise the directory conversion.
int list_program(const uint8_t *program, size_t size, int max_lines, GString *text, bool escaped)
{
    if (!has_basic_load_address(program, size))
        return 0;
    if (escaped && max_lines <= 0)
        return 1;
    unsigned address = BASIC_START;
    for (int lines = 0;; ++lines) {
        size_t at = offset_of_address(address);
        if (at + 2 > size)
            return 0;
        unsigned link = read_le16(program + at);
        if (link == 0)
            return 1;
        // Line 6485 can only come from links that go round in circles.
        if (link == BASIC_START || lines == BASIC_MAX_LINES)
            return 0;
        if (at + 4 >= size)
            return 0;
        unsigned number = read_le16(program + at + 2);

        if (escaped) {
            if (lines > 0)
                g_string_append_c(text, '\n');
            g_string_append_printf(text, "%u ", number);
        } else {
            g_string_append_printf(text, "%u ", number % 1000);
        }
        bool in_quotes = false;
        size_t p = at + 4;
        for (;; ++p) {
            if (p >= size)
                return 0;
            uint8_t c = program[p];
            if (c == 0)
                break;
            if (!escaped) {
                // As in listings built from an image, a carriage return in a
                // name must not split the entry's line.
                g_string_append_c(text, (char)(c == 0x0D ? 0x8D : c));
            } else if (c == '"') {
                in_quotes = !in_quotes;
                g_string_append_c(text, '"');
            } else {
                append_escaped_byte(text, c, in_quotes);
            }
        }
        if (!escaped)
            g_string_append_c(text, '\r');

        if (escaped && lines + 1 >= max_lines)
            return 1;
        if (link < BASIC_START)
            return 0;
        address = link;
    }
}

}  // namespace

int basic_relink_directory_listing(uint8_t *program, size_t size)
{
    if (!has_basic_load_address(program, size))
        return 0;
    uint8_t *body = program + 2;
    size_t body_size = size - 2;
    if (body[1] == 0)
        return 1;
    size_t line = 0;
    for (;;) {
        // Entry lines are 32 bytes and the others 30, so no terminator can
        // come before line offset 29: earlier zeros belong to a name.
        size_t p = line + 4;
        for (;; ++p) {
            if (p >= body_size)
                return 0;
            if (body[p] != 0)
                continue;
            if (p - line >= 29)
                break;
            body[p] = 0x40;
        }
        size_t next = p + 1;
        unsigned next_address = BASIC_START + (unsigned)next;
        if (next_address > 0xFFFF)
            return 0;
        body[line] = (uint8_t)(next_address & 0xFF);
        body[line + 1] = (uint8_t)(next_address >> 8);
        if (next + 1 >= body_size)
            return 0;
        if (body[next + 1] == 0)
            return 1;
        line = next;
    }
}

int basic_list_directory_contents(const uint8_t *program, size_t size, GString *text)
{
    return list_program(program, size, 0, text, false);
}

int basic_list_basic_program_escaped(const uint8_t *program, size_t size, int max_lines, GString *text)
{
    return list_program(program, size, max_lines, text, true);
}
