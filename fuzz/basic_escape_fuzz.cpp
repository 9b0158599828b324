// The escaped BASIC lister on arbitrary programs; the first byte sets the
// line limit.
#include <cstdlib>
#include <cstring>

#include "image/basic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int max_lines = data[0] == 0xFF ? 100000 : data[0];
    uint8_t *prog = new uint8_t[size + 1];
    prog[0] = 0x01;
    prog[1] = 0x08;
    memcpy(prog + 2, data + 1, size - 1);
    GString *text = g_string_new(nullptr);
    basic_list_basic_program_escaped(prog, size + 1, max_lines, text);
    int separators = 0;
    for (size_t i = 0; i < text->len; ++i) {
        // Every byte written is printable or a line feed.
        unsigned char c = (unsigned char)text->str[i];
        if (c == '\n')
            ++separators;
        else if (c < 0x20 || c > 0x7E)
            abort();
    }
    if (separators >= (max_lines > 0 ? max_lines : 1) || separators >= BASIC_MAX_LINES)
        abort();
    g_string_free(text, TRUE);
    delete[] prog;
    return 0;
}
