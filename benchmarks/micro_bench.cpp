// micro_bench.cpp - the driver's per-request computations: the checksum, the
// set-up request and its change into the fetch request, and the conversion
// of reply data into a tag value.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstring>
#include <vector>

#include "entry/driver_data.h"
#include "entry/log.h"
#include "protocol/frames.h"
#include "protocol/read_write.h"

// None of the measured paths logs; the driver's err reference needs a body.
extern "C" void err(int, const char *, ...) {}

namespace {

constexpr uint32_t TypeOf(char first, char second) {
    return static_cast<uint8_t>(first) | (static_cast<uint32_t>(static_cast<uint8_t>(second)) << 8);
}

// One instance's work area with its two buffers, and one tag.
struct Bench {
    std::vector<uint8_t> sendBuffer = std::vector<uint8_t>(SEND_BUFFER_SIZE);
    std::vector<uint8_t> recvBuffer = std::vector<uint8_t>(RECV_BUFFER_SIZE);
    DriverData data{};
    TagValue value{};
    TagRecord tag{};
    CallBlock block{};

    Bench(char first, char area, uint32_t address, int32_t bit = -1) {
        data.SendBuffer = sendBuffer.data();
        data.RecvBuffer = recvBuffer.data();
        tag.AddressText = "WM0150";
        tag.TagAddress = TagAddress{0, TypeOf(first, area), address, bit, first == 'B' ? 1u : 16u};
        tag.Count = 1;
        tag.ValueCell = &value;
        block.Data = &data;
        block.Function = KIV_SINGLE_READ;
        block.Params = &tag;
    }
};

void BM_CheckSum(benchmark::State &state) {
    std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<uint8_t>('0' + i % 16);
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());
        benchmark::DoNotOptimize(CheckSum(bytes.data(), static_cast<uint16_t>(bytes.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
// A word set-up request's checksummed bytes, the longest reply's, and a
// whole receive buffer.
BENCHMARK(BM_CheckSum)->Arg(20)->Arg(124)->Arg(RECV_BUFFER_SIZE);

void BM_BuildReadRequest(benchmark::State &state) {
    Bench b(state.range(0) ? 'W' : 'B', 'M', 0x0150);
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildReadRequest(&b.block));
        benchmark::ClobberMemory();
    }
    if (b.data.SendLength != (state.range(0) ? 22 : 18)) state.SkipWithError("set-up request not built");
}
BENCHMARK(BM_BuildReadRequest)->ArgName("word")->Arg(0)->Arg(1);

// The set-up request built, then changed in place into the fetch request.
void BM_SetUpThenFetchRequest(benchmark::State &state) {
    Bench b('W', 'M', 0x0150);
    for (auto _ : state) {
        BuildReadRequest(&b.block);
        MakeFetchRequest(&b.data);
        benchmark::ClobberMemory();
    }
    if (std::memcmp(b.sendBuffer.data() + 19, "75\r", 3) != 0) state.SkipWithError("fetch request wrong");
}
BENCHMARK(BM_SetUpThenFetchRequest);

// StoreData on a fetch reply: 0 word, 1 single bit of a word, 2 bit tag.
void BM_StoreData(benchmark::State &state) {
    const int kind = static_cast<int>(state.range(0));
    Bench b(kind == 2 ? 'B' : 'W', 'M', 0x0150, kind == 1 ? 4 : -1);
    const char reply[] = "\x02" "00003312340B\r";
    std::memcpy(b.recvBuffer.data(), reply, sizeof reply - 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(StoreData(&b.block, b.recvBuffer.data() + 7));
        benchmark::ClobberMemory();
    }
    const uint16_t expected = kind == 0 ? 0x1234 : kind == 1 ? 1 : 0;
    if (b.value.Value != expected) state.SkipWithError("value not stored");
}
BENCHMARK(BM_StoreData)->ArgName("kind")->Arg(0)->Arg(1)->Arg(2);

} // namespace
