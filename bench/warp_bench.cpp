// Receive path cost: validate + normalise + decode of incoming packets, one
// packet and a whole 683-sector disk. The "allocs" counter counts operator new
// calls inside the timed loop; it must stay 0.
#include <benchmark/benchmark.h>

#include "gcr/warp.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

static std::atomic<long> allocations{0};

__attribute__((noinline)) void *operator new(std::size_t n)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
// Out of line, so the compiler does not pair a visible malloc with a free
// across the replaced operators and warn about a mismatch.
__attribute__((noinline)) void operator delete(void *p) noexcept
{
    std::free(p);
}
__attribute__((noinline)) void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

// An incoming packet as the device would send it for `data`.
void make_incoming(const uint8_t *data, uint8_t sector, int eot, uint8_t *p)
{
    static const uint8_t codes[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                      0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};
    warp_encode_gcr_stream(data, p, 0, 0);
    warp_shift_outgoing_stream(p);
    p[321] = (uint8_t)((p[321] & 0xFE) | eot);
    p[322] = (uint8_t)(codes[sector & 15] | (sector & 16 ? 0x20 : 0));
    uint8_t x = 0;
    for (int i = 0; i < 323; ++i) {
        p[i] = warp_bus_order_transform(p[i]);  // the transform is its own inverse
        x ^= p[i];
    }
    p[323] = x;
}

std::vector<uint8_t> make_disk(int sectors)
{
    std::mt19937 rng(683);
    std::vector<uint8_t> packets((size_t)sectors * WARP_PACKET_SIZE);
    uint8_t data[256];
    for (int s = 0; s < sectors; ++s) {
        for (auto &b : data)
            b = (uint8_t)rng();
        make_incoming(data, (uint8_t)(s % 21), s % 21 == 20, &packets[(size_t)s * WARP_PACKET_SIZE]);
    }
    return packets;
}

uint8_t packet_storage[WARP_PACKET_SIZE];
uint8_t data_storage[256];

// What the worker does per received packet; the copy stands in for the
// serial read filling the receive buffer.
int receive(const uint8_t *wire)
{
    std::memcpy(packet_storage, wire, WARP_PACKET_SIZE);
    if (warp_incoming_stream_is_empty(packet_storage) || !warp_validate_incoming_stream(packet_storage))
        return 0;
    warp_normalise_incoming_stream(packet_storage);
    uint32_t sector, ok, eot;
    uint8_t checksum;
    return warp_decode_gcr_stream(packet_storage, data_storage, &sector, &checksum, &ok, &eot) & (int)ok;
}

void BM_ReceivePacket(benchmark::State &state)
{
    std::vector<uint8_t> wire = make_disk(1);
    long before = allocations.load();
    for (auto _ : state) {
        int r = receive(wire.data());
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    state.counters["allocs"] = (double)(allocations.load() - before);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceivePacket);

void BM_ReceiveDisk(benchmark::State &state)
{
    const int sectors = 683;
    std::vector<uint8_t> wire = make_disk(sectors);
    long before = allocations.load();
    for (auto _ : state) {
        int good = 0;
        for (int s = 0; s < sectors; ++s)
            good += receive(&wire[(size_t)s * WARP_PACKET_SIZE]);
        if (good != sectors)
            state.SkipWithError("a packet failed to decode");
        benchmark::ClobberMemory();
    }
    state.counters["allocs"] = (double)(allocations.load() - before);
    state.SetItemsProcessed(state.iterations() * sectors);
}
BENCHMARK(BM_ReceiveDisk)->Unit(benchmark::kMicrosecond);

void BM_EncodeAndShift(benchmark::State &state)
{
    uint8_t data[256];
    for (int i = 0; i < 256; ++i)
        data[i] = (uint8_t)(i * 13);
    for (auto _ : state) {
        warp_encode_gcr_stream(data, packet_storage, 3, 18);
        warp_shift_outgoing_stream(packet_storage);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeAndShift);

}  // namespace

BENCHMARK_MAIN();
