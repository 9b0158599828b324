#include "image/petscii.h"

#include <glib.h>

#include <cstring>

namespace {

// The signs shown as something other than their ASCII byte.
struct sign {
    unsigned char petscii;
    const char *text;  // UTF-8
};
const sign SIGNS[] = {
    {0x5C, "\xC2\xA3"},      // pound sign
    {0x5E, "\xE2\x86\x91"},  // up arrow
    {0x5F, "\xE2\x86\x90"},  // left arrow
    {0xFF, "\xCF\x80"},      // pi
};

bool shown_as_itself(unsigned char c)
{
    return (c >= 0x20 && c <= 0x40) || c == 0x5B || c == 0x5D;
}

int hex_digit(char c)
{
    return g_ascii_isxdigit(c) ? g_ascii_xdigit_value(c) : -1;
}

}  // namespace

std::string petscii_to_text(const std::string &petscii)
{
    std::string out;
    for (unsigned char c : petscii) {
        if (shown_as_itself(c) || (c >= 0x41 && c <= 0x5A)) {
            out += (char)c;
            continue;
        }
        if (c >= 0xC1 && c <= 0xDA) {
            out += (char)(c - 0xC1 + 'a');
            continue;
        }
        const char *text = nullptr;
        for (const sign &s : SIGNS)
            if (s.petscii == c)
                text = s.text;
        if (text) {
            out += text;
        } else {
            char escaped[8];
            g_snprintf(escaped, sizeof escaped, "{$%02x}", c);
            out += escaped;
        }
    }
    return out;
}

bool petscii_from_text(const std::string &text, std::string *petscii)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        if (c == '{' && i + 5 <= text.size() && text[i + 1] == '$' && text[i + 4] == '}' &&
            hex_digit(text[i + 2]) >= 0 && hex_digit(text[i + 3]) >= 0) {
            out += (char)(hex_digit(text[i + 2]) * 16 + hex_digit(text[i + 3]));
            i += 5;
        } else if (shown_as_itself(c) || (c >= 'A' && c <= 'Z')) {
            out += (char)c;
            i++;
        } else if (c >= 'a' && c <= 'z') {
            out += (char)(c - 'a' + 0xC1);
            i++;
        } else {
            const sign *found = nullptr;
            for (const sign &s : SIGNS)
                if (text.compare(i, strlen(s.text), s.text) == 0)
                    found = &s;
            if (!found)
                return false;
            out += (char)found->petscii;
            i += strlen(found->text);
        }
    }
    *petscii = out;
    return true;
}

std::string petscii_name_from_file_name(const std::string &name)
{
    std::string out;
    for (size_t i = 0; i < name.size() && out.size() < 16; i++) {
        unsigned char c = (unsigned char)name[i];
        if ((c & 0xC0) == 0x80)
            continue;  // the rest of a UTF-8 character: one '-' stands for it
        if (g_ascii_isalpha(c))
            out += (char)g_ascii_toupper(c);
        else if (shown_as_itself(c) && !strchr("\"*?,:=", c))
            out += (char)c;
        else
            out += '-';
    }
    return out;
}
