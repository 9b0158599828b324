// Listing a full directory: 144 entries over 18 chained sectors.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "image/d64.h"
#include "image/directory.h"
#include "image/listing.h"

namespace {

void make_full_directory()
{
    d64_module_init();
    d64_storage_init_and_set_to_not_ready();
    uint8_t *bam = d64_storage + d64_sector_offset(18, 0);
    bam[0] = 18;
    bam[1] = 1;
    for (int t = 1; t <= 35; ++t)
        bam[4 * t] = (uint8_t)(t == 18 ? 0 : d64_sectors_of_track(t) - 4);
    memset(bam + 0x90, 0xA0, 27);
    memcpy(bam + 0x90, "FULL DISK", 9);
    memcpy(bam + 0xA2, "FD\xA0" "2A", 5);
    int n = 0;
    for (int s = 1; s <= 18; ++s) {
        uint8_t *sec = d64_storage + d64_sector_offset(18, s);
        sec[0] = (uint8_t)(s < 18 ? 18 : 0);
        sec[1] = (uint8_t)(s < 18 ? s + 1 : 255);
        for (int k = 0; k < 8; ++k, ++n) {
            uint8_t *e = sec + 32 * k;
            e[2] = (uint8_t)(0x80 | (n % 5));
            e[3] = (uint8_t)(1 + n % 17);
            e[4] = (uint8_t)(n % 21);
            memset(e + 5, 0xA0, 16);
            char name[17];
            int len = snprintf(name, sizeof name, "FILE NUMBER %d", n);
            memcpy(e + 5, name, (size_t)len);
            e[30] = (uint8_t)(n * 7);
            e[31] = 0;
        }
    }
}

void BM_ListFullDirectory(benchmark::State &state)
{
    make_full_directory();
    GString *text = g_string_sized_new(8192);
    int lines = 0;
    for (auto _ : state) {
        g_string_truncate(text, 0);
        int loop;
        lines = d64_create_directory_listing(d64_storage, text, 0, &loop);
        benchmark::DoNotOptimize(text->str);
    }
    if (lines != 146)
        state.SkipWithError("listing is not 146 lines");
    state.SetItemsProcessed(state.iterations() * 144);
    g_string_free(text, TRUE);
}
BENCHMARK(BM_ListFullDirectory);

// The owner lookup's worst case: a sector no file owns, so all 144 entries
// and their chains are walked.
void BM_OwnerLookupMiss(benchmark::State &state)
{
    make_full_directory();
    for (auto _ : state) {
        const uint8_t *entry;
        char name[17];
        benchmark::DoNotOptimize(d64_get_filename_for_sector(d64_storage, &entry, 35, 16, name));
    }
}
BENCHMARK(BM_OwnerLookupMiss);

}  // namespace

BENCHMARK_MAIN();
