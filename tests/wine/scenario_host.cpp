// scenario_host - a small host that drives the DAZARAZ driver through one
// scenario and prints what it sees, one line per event:
//
//   <category> <text>          every log line of the driver, as err received it
//   = <function> <result>      every KivMain call and its answer
//   <name> <values...>         what a call delivered (values read, parsed addresses...)
//
// The same source builds two programs: on Windows it loads DAZARAZ.dll (from
// its own directory) with LoadLibrary and receives the log through
// TOLVEX.DLL; on Linux it loads libdazaraz.so with dlopen and receives the
// log through libtolvex. The Wine tests run both on the same scenario and
// compare their output line by line.
//
// usage: scenario_host SCENARIO PORT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

#include "host_records.h"
#include "tolvex.h"

namespace {

KivMainFunction kivMain = nullptr;

void Sink(int category, const char *text, void *) {
    std::printf("%d %s\n", category, text);
    std::fflush(stdout);
}

bool LoadDriver() {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA("DAZARAZ.dll");
    if (module == nullptr) {
        std::fprintf(stderr, "scenario_host: LoadLibrary(DAZARAZ.dll) failed (%lu)\n", GetLastError());
        return false;
    }
    kivMain = reinterpret_cast<KivMainFunction>(reinterpret_cast<void *>(GetProcAddress(module, "KivMain")));
#else
    void *module = dlopen(DAZARAZ_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "scenario_host: %s\n", dlerror());
        return false;
    }
    kivMain = reinterpret_cast<KivMainFunction>(dlsym(module, "KivMain"));
#endif
    if (kivMain == nullptr) std::fprintf(stderr, "scenario_host: KivMain is not exported\n");
    return kivMain != nullptr;
}

const char *FunctionName(uint32_t function) {
    switch (function) {
    case KIV_COLD_START: return "ColdStart";
    case KIV_WARM_START: return "WarmStart";
    case KIV_SINGLE_ADDRESS_PARSER: return "SingleAddressParser";
    case KIV_BLOCK_ADDRESS_PARSER: return "BlockAddressParser";
    case KIV_SINGLE_READ: return "SingleRead";
    case KIV_BLOCK_READ: return "BlockRead";
    case KIV_SINGLE_WRITE: return "SingleWrite";
    case KIV_BLOCK_WRITE: return "BlockWrite";
    case KIV_END_KIV: return "EndKiv";
    case KIV_CLOSE_COM: return "CloseCom";
    case KIV_RE_OPEN_COM: return "ReOpenCom";
    case KIV_GET_KIV_INFO: return "GetKivInfo";
    case KIV_CHANGE_KIV_PARAMS: return "ChangeKivParams";
    default: return "Function";
    }
}

// One driver instance: the storage the driver announced and its call block.
struct Instance {
    std::vector<uint64_t> storage; // 8-byte aligned, as a host must provide
    CallBlock block{};
    std::string port;
};

uint32_t Call(Instance &in, uint32_t function, void *params) {
    in.block.Function = function;
    in.block.Params = params;
    const uint32_t result = kivMain(&in.block);
    std::printf("= %s %u\n", FunctionName(function), result);
    std::fflush(stdout);
    return result;
}

uint32_t DataSize() {
    InfoBlock info{};
    CallBlock block{};
    block.Function = KIV_GET_KIV_INFO;
    block.Params = &info;
    kivMain(&block);
    return info.DataSize;
}

void MakeInstance(Instance &in, uint32_t number, const std::string &port) {
    in.storage.assign((DataSize() + 7) / 8 + 1, 0);
    in.block.Data = reinterpret_cast<DriverData *>(in.storage.data());
    in.block.Instance = number;
    in.port = port;
}

// The driver's default line: 9600 bits per second, 7 data bits, one stop bit, even parity.
const LineParams defaultLine{9600, 7, 0, 2};

uint32_t ColdStart(Instance &in, uint32_t readTimeout, uint32_t open = 1, LineParams line = defaultLine) {
    ColdStartParams p{};
    std::snprintf(p.PortName, sizeof p.PortName, "%s", in.port.c_str());
    p.OpenAtStart = open;
    p.ReadTimeout = readTimeout;
    p.Line = line;
    return Call(in, KIV_COLD_START, &p);
}

// A tag: its address text, the parsed address and its value cell.
struct Tag {
    std::string text;
    TagRecord record{};
    TagValue value{};
};

void PrintAddress(const char *what, const std::string &text, uint32_t kind, const TagAddress &a) {
    std::printf("%s %s kind %u: Reserved %u Type %08X Address %04X Bit %d Width %u\n", what, text.c_str(), kind,
                a.Reserved, a.Type, a.Address, a.Bit, a.Width);
}

// Parses text with the tag kind and prepares the tag record from the result.
uint32_t Parse(Instance &in, Tag &tag, const std::string &text, uint32_t kind) {
    tag.text = text;
    ParseRecord p{};
    p.AddressText = tag.text.c_str();
    p.Kind = kind;
    std::memset(&p.TagAddress, 0xEE, sizeof p.TagAddress); // words left alone show as EEEEEEEE
    const uint32_t result = Call(in, KIV_SINGLE_ADDRESS_PARSER, &p);
    PrintAddress("parsed", text, kind, p.TagAddress);
    tag.record = TagRecord{};
    tag.record.AddressText = tag.text.c_str();
    tag.record.TagAddress = p.TagAddress;
    tag.record.Count = 1;
    tag.record.ValueCell = &tag.value;
    return result;
}

uint32_t Read(Instance &in, Tag &tag) {
    tag.value.Value = 0xBEEF; // a failed read leaves it
    const uint32_t result = Call(in, KIV_SINGLE_READ, &tag.record);
    std::printf("value %s %04X\n", tag.text.c_str(), tag.value.Value);
    return result;
}

uint32_t Write(Instance &in, Tag &tag, uint16_t value) {
    tag.value.Value = value;
    const uint32_t result = Call(in, KIV_SINGLE_WRITE, &tag.record);
    // After a bit write with NEWUSE the driver must have put everything back.
    std::printf("written %s %04X, Type %08X, Function %u\n", tag.text.c_str(), tag.value.Value,
                tag.record.TagAddress.Type, in.block.Function);
    return result;
}

// A tag parsed with the kind its type needs (digital for bits, analog else).
Tag Tagged(Instance &in, const char *text) {
    Tag tag;
    Parse(in, tag, text, text[0] == 'B' || text[0] == 'b' ? KIV_KIND_DIGITAL : KIV_KIND_ANALOG_1);
    return tag;
}

// Scenarios. The controller simulator on the other end is set up by the test
// runner for each of them (memory contents, faults, initialisation file).

void Info(Instance &in) {
    InfoBlock info{};
    Call(in, KIV_GET_KIV_INFO, &info);
    std::printf("info A %u B %u C %u DataSize %u DefaultLine %u %u %u %u\n", info.InfoValueA, info.InfoValueB,
                info.InfoValueC, info.DataSize, info.DefaultLine.BaudRate, info.DefaultLine.ByteSize,
                info.DefaultLine.StopBits, info.DefaultLine.Parity);
    std::printf("name %s\n", info.DriverName ? info.DriverName : "(null)");
    std::printf("banner");
    for (const char *c = info.Banner; c && *c; ++c) std::printf(" %02X", static_cast<unsigned char>(*c));
    std::printf("\n");
}

void ColdStartAndEnd(Instance &in) {
    ColdStart(in, 50);
    Call(in, KIV_END_KIV, nullptr);
    // The ended driver answers 0 to everything without a word.
    ColdStart(in, 50);
    InfoBlock info{};
    Call(in, KIV_GET_KIV_INFO, &info);
    std::printf("info after end DataSize %u\n", info.DataSize);
}

void Parsing(Instance &in) {
    static const struct {
        const char *text;
        uint32_t kind;
    } cases[] = {
        {"BX0000", 6}, {"bx009f", 6}, {"WM0150", 1}, {"TC0400", 0}, {"BT03FF", 6}, {"BX0000", 7},
        {"BY00A0", 2}, {"WY013F", 6}, {"TC0400", 6}, {"BX00A0", 6}, {"BM0360", 6}, {"TC0401", 0},
        {"TC0580", 0}, {"WC0400", 1}, {"WT03A0", 1}, {"BC0400", 6}, {"TM0150", 0}, {"AX0000", 6},
        {"BX00G0", 6}, {"BX0000Z", 6}, {"BX00000", 6}, {"BX", 6}, {"BX1", 6}, {"WY1", 1},
        {"BX000000000000000000000000000000", 6}, {"BX0000000000000000000000000000000", 6}, {"", 6},
    };
    for (const auto &c : cases) {
        Tag tag;
        Parse(in, tag, c.text, c.kind);
    }
    // Block functions and empty slots.
    BlockRecord block{"BLOCK1"};
    Call(in, KIV_BLOCK_ADDRESS_PARSER, &block);
    Call(in, KIV_BLOCK_READ, &block);
    Call(in, KIV_BLOCK_WRITE, &block);
    Call(in, 8, nullptr);
    Call(in, 17, nullptr);
}

void ReadKinds(Instance &in) {
    ColdStart(in, 50);
    const char *texts[] = {"BX0010", "BX0011", "BY00A0", "BM0150", "BT03A0", "WX0020", "WY00B0", "WM0160", "TC0400"};
    for (const char *text : texts) {
        Tag tag = Tagged(in, text);
        Read(in, tag);
    }
    // A word tag with a bit number: the driver delivers that bit of the word.
    Tag bits = Tagged(in, "WM0160");
    for (int32_t bit : {0, 4, 15, 20}) {
        bits.record.TagAddress.Bit = bit;
        Read(in, bits);
    }
    Call(in, KIV_END_KIV, nullptr);
}

void Writes(Instance &in) {
    ColdStart(in, 50);
    Tag word = Tagged(in, "WM0150");
    Write(in, word, 0x1234);
    Read(in, word);
    Tag output = Tagged(in, "WY00A0");
    Write(in, output, 0x00FF);
    Tag bit = Tagged(in, "BM0170");
    Write(in, bit, 5);
    Read(in, bit);
    Write(in, bit, 0);
    Read(in, bit);
    Tag input = Tagged(in, "BX0010");
    Write(in, input, 1); // not writable: refused without a frame
    Tag counter = Tagged(in, "TC0400");
    Write(in, counter, 7);
    Call(in, KIV_END_KIV, nullptr);
}

void Naks(Instance &in) {
    ColdStart(in, 50);
    Tag tag = Tagged(in, "WM0150");
    Read(in, tag); // the runner makes the controller refuse the fetch three times
    Read(in, tag); // and then answer
    Call(in, KIV_END_KIV, nullptr);
}

void Silent(Instance &in) {
    ColdStart(in, 10);
    Tag tag = Tagged(in, "WM0150");
    Read(in, tag);
    Tag bit = Tagged(in, "BY00A0");
    Write(in, bit, 1);
    Call(in, KIV_END_KIV, nullptr);
}

void WarmStart(Instance &in) {
    ColdStart(in, 50);
    Tag tag = Tagged(in, "WM0150");
    Read(in, tag);
    Read(in, tag); // no CPU start this time
    Call(in, KIV_WARM_START, nullptr);
    Read(in, tag); // the CPU start again
    Call(in, KIV_END_KIV, nullptr);
}

void CloseReopen(Instance &in) {
    // 8 data bits without parity: a pseudo-terminal always carries 8-bit
    // bytes, and under Wine a port opened again on one that was set to 7
    // data bits and parity refuses those settings the second time.
    ColdStart(in, 50, 1, LineParams{9600, 8, 0, 0});
    Tag tag = Tagged(in, "WM0150");
    Read(in, tag);
    Call(in, KIV_CLOSE_COM, nullptr);
    Call(in, KIV_CLOSE_COM, nullptr); // nothing open: no effect
    Read(in, tag);                    // refused: no port
    Call(in, KIV_RE_OPEN_COM, nullptr);
    Read(in, tag);
    ChangeParams change{};
    std::snprintf(change.PortName, sizeof change.PortName, "%s", in.port.c_str());
    change.ReadTimeout = 0xFFFFFFFFu; // keep the time-out
    change.Line = LineParams{0, 0, 0, 0}; // keep the line settings
    Call(in, KIV_CHANGE_KIV_PARAMS, &change);
    Read(in, tag);
    std::snprintf(change.PortName, sizeof change.PortName, "NOPORT9");
    Call(in, KIV_CHANGE_KIV_PARAMS, &change); // closes, then cannot open
    Read(in, tag);
    Call(in, KIV_END_KIV, nullptr);
}

void InitFile(Instance &in) {
    // The runner has written ZIROD3.INT (and no ZIROD03.INT) into the
    // current directory; this is instance 3.
    ColdStart(in, 50);
    Tag tag = Tagged(in, "WM0150");
    Read(in, tag);
    Tag bit = Tagged(in, "BM0170");
    Write(in, bit, 1); // NEWUSE: the word is read first
    Call(in, KIV_END_KIV, nullptr);
}

struct Scenario {
    const char *name;
    uint32_t instance;
    void (*run)(Instance &);
};

const Scenario scenarios[] = {
    {"info", 1, Info},           {"cold_start", 1, ColdStartAndEnd}, {"parse", 1, Parsing},
    {"read_kinds", 1, ReadKinds}, {"writes", 1, Writes},             {"writes_newuse", 1, Writes},
    {"naks", 1, Naks},           {"silent", 1, Silent},              {"warm_start", 1, WarmStart},
    {"close_reopen", 1, CloseReopen}, {"init_file", 3, InitFile},
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: scenario_host SCENARIO PORT\n");
        return 2;
    }
    const Scenario *scenario = nullptr;
    for (const Scenario &s : scenarios)
        if (std::strcmp(s.name, argv[1]) == 0) scenario = &s;
    if (scenario == nullptr) {
        std::fprintf(stderr, "scenario_host: no scenario '%s'\n", argv[1]);
        return 2;
    }
    tolvex_set_sink(Sink, nullptr);
    if (!LoadDriver()) return 3;
    Instance instance;
    MakeInstance(instance, scenario->instance, argv[2]);
    scenario->run(instance);
    std::printf("end of scenario %s\n", scenario->name);
    return 0;
}
