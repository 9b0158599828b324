// The "$" relinker on arbitrary programs: it stays inside the data, and what
// it accepts has links that chain forward to the end marker.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/basic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Most inputs should carry the right load address to get anywhere.
    std::vector<uint8_t> p(size + 2);
    p[0] = 0x01;
    p[1] = 0x08;
    memcpy(p.data() + 2, data, size);
    // Exact-size heap copy: any overrun is caught.
    uint8_t *prog = new uint8_t[p.size()];
    memcpy(prog, p.data(), p.size());
    if (basic_relink_directory_listing(prog, p.size())) {
        size_t at = 2;
        while (prog[at + 1] != 0) {
            unsigned link = prog[at] | (prog[at + 1] << 8);
            size_t next = link - 0x0801 + 2;
            if (next < at + 30 || next > p.size() || prog[next - 1] != 0)
                abort();
            at = next;
        }
        // The lister may still refuse it (an end link whose low byte is not
        // zero), but it must not go astray on relinked data.
        GString *text = g_string_new(nullptr);
        basic_list_directory_contents(prog, p.size(), text);
        g_string_free(text, TRUE);
    }
    delete[] prog;
    return 0;
}
