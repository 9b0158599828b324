// The rescue tools on a full disk: the damage report and the sector map of
// 144 files filling every sector, and ten dumps stacked into one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/d64.h"
#include "image/damage.h"
#include "image/directory.h"
#include "image/merge.h"
#include "image/sector_map.h"

namespace {

// 144 files whose chains take every sector off the directory track, with
// sector errors spread over them.
std::vector<uint8_t> full_disk()
{
    d64_module_init();
    std::vector<uint8_t> image((size_t)(d64_base_size + d64_block_error_info_size), 0);
    d64_init_error_info_contents(image.data(), D64_ERR_OK);
    uint8_t *bam = image.data() + d64_sector_offset(18, 0);
    bam[0] = 18;
    bam[1] = 1;
    memset(bam + 0x90, 0xA0, 27);
    memcpy(bam + 0x90, "FULL DISK", 9);
    std::vector<std::pair<int, int>> free;
    for (int t = 1; t <= 35; t++)
        for (int s = 0; t != 18 && s < d64_sectors_of_track(t); s++)
            free.push_back({t, s});
    size_t next = 0;
    for (int n = 0; n < 144; n++) {
        int ds = 1 + n / 8;
        uint8_t *dir = image.data() + d64_sector_offset(18, ds);
        dir[0] = (uint8_t)(ds < 18 ? 18 : 0);
        dir[1] = (uint8_t)(ds < 18 ? ds + 1 : 255);
        uint8_t *e = dir + 32 * (n % 8);
        size_t blocks = free.size() / 144 + (n < (int)(free.size() % 144) ? 1 : 0);
        e[2] = 0x82;
        e[3] = (uint8_t)free[next].first;
        e[4] = (uint8_t)free[next].second;
        memset(e + 5, 0xA0, 16);
        char name[17];
        int length = snprintf(name, sizeof name, "FILE %d", n);
        memcpy(e + 5, name, (size_t)length);
        e[30] = (uint8_t)blocks;
        for (size_t b = 0; b < blocks; b++, next++) {
            uint8_t *data = image.data() + d64_sector_offset(free[next].first, free[next].second);
            bool last = b + 1 == blocks;
            data[0] = last ? 0 : (uint8_t)free[next + 1].first;
            data[1] = last ? 255 : (uint8_t)free[next + 1].second;
        }
    }
    for (size_t i = 0; i < free.size(); i += 37)
        d64_set_block_error_info(image.data(), free[i].first, free[i].second,
                                 i % 3 ? D64_ERR_CHECKSUM : D64_ERR_NO_SYNC);
    return image;
}

void BM_DamageReportAndMapOfAFullDisk(benchmark::State &state)
{
    std::vector<uint8_t> image = full_disk();
    damage_report report;
    for (auto _ : state) {
        damage_report_make(image.data(), 1, &report);
        std::vector<std::string> lines;
        damage_report_lines(report, &lines);
        sector_map_lines(image.data() + d64_base_size, (int)d64_block_error_info_size, 35, &lines);
        benchmark::DoNotOptimize(lines.data());
    }
    if (report.files.size() != 144 || report.damaged == 0)
        state.SkipWithError("not the full disk");
}

void BM_MergeTenDumps(benchmark::State &state)
{
    std::vector<uint8_t> clean = full_disk();
    d64_init_error_info_contents(clean.data(), D64_ERR_OK);
    std::vector<std::vector<uint8_t>> dumps(10, clean);
    std::vector<const uint8_t *> images;
    // Every dump fails elsewhere; one sector only ever fails its checksum,
    // so it is voted on.
    for (int d = 0; d < 10; d++) {
        for (int i = d; i < (int)d64_block_error_info_size; i += 17)
            dumps[d][(size_t)(d64_base_size + i)] = (uint8_t)(i % 2 ? D64_ERR_CHECKSUM : D64_ERR_GCR);
        dumps[d][(size_t)d64_base_size + 5] = D64_ERR_CHECKSUM;
        images.push_back(dumps[d].data());
    }
    merge_result result;
    for (auto _ : state) {
        merge_dumps(images, &result);
        benchmark::DoNotOptimize(result.image.data());
    }
    if (result.majority.size() != 1 || result.sectors_bad != 1)
        state.SkipWithError("unexpected merge");
}

}  // namespace

BENCHMARK(BM_DamageReportAndMapOfAFullDisk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MergeTenDumps)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
