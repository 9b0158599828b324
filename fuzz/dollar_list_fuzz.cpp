// The "$" lister on arbitrary programs, links as they come.
#include <cstdlib>
#include <cstring>

#include "image/basic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t *prog = new uint8_t[size + 2];
    prog[0] = 0x01;
    prog[1] = 0x08;
    memcpy(prog + 2, data, size);
    GString *text = g_string_new(nullptr);
    basic_list_directory_contents(prog, size + 2, text);
    // Lines end in carriage returns only where a line ended.
    int lines = 0;
    for (size_t i = 0; i < text->len; ++i)
        lines += text->str[i] == '\r';
    if (lines > BASIC_MAX_LINES)
        abort();
    g_string_free(text, TRUE);
    // The raw input too, load address and all.
    text = g_string_new(nullptr);
    basic_list_directory_contents(data, size, text);
    g_string_free(text, TRUE);
    delete[] prog;
    return 0;
}
