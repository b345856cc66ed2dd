/*
 * host_records.h - the records that pass between a host and the DAZARAZ driver.
 *
 * A host loads the driver, calls its one exported function KivMain with a
 * CallBlock, and provides every record below, including the storage of each
 * instance's DriverData (its size comes from GetKivInfo, function 14).
 *
 * On a 32-bit build every offset is the one of the 32-bit host interface
 * (pointers 4 bytes, little-endian numbers); the static assertions below
 * prove it. On a build with 8-byte pointers the records keep the same fields
 * in the same order with natural alignment: pointers widen to 8 bytes, every
 * other field keeps its width.
 *
 * KivMain uses the C calling convention (__cdecl on Windows: the caller
 * removes the argument). The host must call it for one instance at a time.
 *
 * This header is valid C (C99) and C++.
 */
#ifndef DAZARAZ_HOST_RECORDS_H
#define DAZARAZ_HOST_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of KivMain. */
enum {
    KIV_DONE = 0,    /* done */
    KIV_REFUSED = 1, /* refused: bad address or tag kind, no port, reply refused */
    KIV_FAILED = 2   /* failed: no handler, no memory, port, no complete reply */
};

/* Function numbers of KivMain. */
enum {
    KIV_COLD_START = 1,
    KIV_WARM_START = 2,
    KIV_SINGLE_ADDRESS_PARSER = 3,
    KIV_BLOCK_ADDRESS_PARSER = 4,
    KIV_SINGLE_READ = 5,
    KIV_BLOCK_READ = 6,
    KIV_SINGLE_WRITE = 7,
    KIV_BLOCK_WRITE = 10,
    KIV_END_KIV = 11,
    KIV_CLOSE_COM = 12,
    KIV_RE_OPEN_COM = 13,
    KIV_GET_KIV_INFO = 14,
    KIV_CHANGE_KIV_PARAMS = 15
};

/* Host tag kinds (ParseRecord.Kind). */
enum {
    KIV_KIND_ANALOG_0 = 0,
    KIV_KIND_ANALOG_1 = 1,
    KIV_KIND_ANALOG_2 = 2,
    KIV_KIND_DIGITAL = 6,
    KIV_KIND_STRING = 7
};

struct DriverData; /* the instance's work area; opaque to the host */

/* Line settings: four unsigned 16-bit fields without gaps. */
typedef struct LineParams {
    uint16_t BaudRate; /* bits per second */
    uint16_t ByteSize; /* data bits (low 8 bits used) */
    uint16_t StopBits; /* 0 one, 1 one and a half, 2 two */
    uint16_t Parity;   /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
} LineParams;

/* The one argument of KivMain. The driver uses the first five words. */
typedef struct CallBlock {
    struct DriverData *Data; /* this instance's storage of DataSize bytes */
    uint32_t Function;       /* function number */
    uint32_t Instance;       /* instance number; chooses the initialisation file */
    uint32_t Unused12;
    void *Params;            /* the function's parameter record */
} CallBlock;

/* Function 1. */
typedef struct ColdStartParams {
    char PortName[12];    /* NUL-terminated, at most 11 characters */
    uint32_t OpenAtStart; /* not 0: the cold start opens the port */
    uint32_t ReadTimeout; /* reply time-out in units of 10 ms */
    LineParams Line;
} ColdStartParams;

/* Function 15. */
typedef struct ChangeParams {
    char PortName[12];    /* always taken */
    uint32_t ReadTimeout; /* 0 and 0xFFFFFFFF keep the current time-out */
    LineParams Line;      /* BaudRate 0 keeps the current line settings */
} ChangeParams;

/* Function 14; the driver writes every field. */
typedef struct InfoBlock {
    uint32_t InfoValueA;    /* 70 */
    const char *DriverName; /* "Hitachi series EM II" */
    const char *Banner;     /* three framed lines in code page 437 */
    uint32_t DataSize;      /* bytes of DriverData storage per instance */
    uint32_t InfoValueB;    /* 4 */
    LineParams DefaultLine; /* 9600, 7, 0, 2 */
    uint32_t InfoValueC;    /* 0 */
} InfoBlock;

/* The parsed address that the parser writes and the host hands back. */
typedef struct TagAddress {
    uint32_t Reserved; /* 0 */
    uint32_t Type;     /* low byte: first type letter (B, W, T); next byte: area letter */
    uint32_t Address;  /* controller address */
    int32_t Bit;       /* -1: the whole value; n: bit n of a word */
    uint32_t Width;    /* 1 for bit tags, 16 for word tags */
} TagAddress;

/* Function 3. */
typedef struct ParseRecord {
    const char *AddressText; /* NUL-terminated address text, such as WM0150 */
    uint32_t Unused4;
    uint32_t Kind;           /* host tag kind: 0..2 analog, 6 digital, 7 string */
    uint32_t Unused12;
    struct TagAddress TagAddress; /* written by the parser */
} ParseRecord;

/* The value cell of a tag. */
typedef struct TagValue {
    uint16_t Unused0;
    uint16_t Value; /* value read, or value to write */
} TagValue;

/* Functions 5 and 7. */
typedef struct TagRecord {
    const char *AddressText;
    uint32_t Unused4;
    struct TagAddress TagAddress; /* as the parser wrote it */
    uint32_t Unused28;
    uint32_t Count;               /* number of values */
    uint32_t Unused36;
    TagValue *ValueCell;
} TagRecord;

/* Functions 6 and 10: the driver reads only the first field. */
typedef struct BlockRecord {
    const char *BlockName;
} BlockRecord;

/* The driver's one exported function. Answers 0, 1 or 2. */
#if defined(_WIN32)
#  if defined(DAZARAZ_BUILDING_DRIVER)
#    define DAZARAZ_EXPORT __declspec(dllexport)
#  else
#    define DAZARAZ_EXPORT __declspec(dllimport)
#  endif
#  define DAZARAZ_CALL __cdecl
#else
#  define DAZARAZ_EXPORT __attribute__((visibility("default")))
#  define DAZARAZ_CALL
#endif

DAZARAZ_EXPORT uint32_t DAZARAZ_CALL KivMain(CallBlock *block);

/* The type of KivMain, for hosts that look it up at run time. */
typedef uint32_t (DAZARAZ_CALL *KivMainFunction)(CallBlock *block);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Layout proofs. */
#ifdef __cplusplus
#  define DAZARAZ_ASSERT(cond, msg) static_assert(cond, msg)
#else
#  define DAZARAZ_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

DAZARAZ_ASSERT(sizeof(LineParams) == 8, "LineParams");
DAZARAZ_ASSERT(offsetof(LineParams, ByteSize) == 2, "LineParams.ByteSize");
DAZARAZ_ASSERT(offsetof(LineParams, StopBits) == 4, "LineParams.StopBits");
DAZARAZ_ASSERT(offsetof(LineParams, Parity) == 6, "LineParams.Parity");
DAZARAZ_ASSERT(sizeof(TagAddress) == 20, "TagAddress");
DAZARAZ_ASSERT(offsetof(TagAddress, Type) == 4, "TagAddress.Type");
DAZARAZ_ASSERT(offsetof(TagAddress, Address) == 8, "TagAddress.Address");
DAZARAZ_ASSERT(offsetof(TagAddress, Bit) == 12, "TagAddress.Bit");
DAZARAZ_ASSERT(offsetof(TagAddress, Width) == 16, "TagAddress.Width");
DAZARAZ_ASSERT(sizeof(TagValue) == 4, "TagValue");
DAZARAZ_ASSERT(offsetof(TagValue, Value) == 2, "TagValue.Value");
DAZARAZ_ASSERT(sizeof(ColdStartParams) == 28, "ColdStartParams");
DAZARAZ_ASSERT(offsetof(ColdStartParams, OpenAtStart) == 12, "ColdStartParams.OpenAtStart");
DAZARAZ_ASSERT(offsetof(ColdStartParams, ReadTimeout) == 16, "ColdStartParams.ReadTimeout");
DAZARAZ_ASSERT(offsetof(ColdStartParams, Line) == 20, "ColdStartParams.Line");
DAZARAZ_ASSERT(sizeof(ChangeParams) == 24, "ChangeParams");
DAZARAZ_ASSERT(offsetof(ChangeParams, ReadTimeout) == 12, "ChangeParams.ReadTimeout");
DAZARAZ_ASSERT(offsetof(ChangeParams, Line) == 16, "ChangeParams.Line");

#if UINTPTR_MAX == 0xFFFFFFFFu
/* The 32-bit host interface. */
DAZARAZ_ASSERT(offsetof(CallBlock, Function) == 4, "CallBlock.Function");
DAZARAZ_ASSERT(offsetof(CallBlock, Instance) == 8, "CallBlock.Instance");
DAZARAZ_ASSERT(offsetof(CallBlock, Params) == 16, "CallBlock.Params");
DAZARAZ_ASSERT(sizeof(CallBlock) == 20, "CallBlock");
DAZARAZ_ASSERT(offsetof(InfoBlock, DriverName) == 4, "InfoBlock.DriverName");
DAZARAZ_ASSERT(offsetof(InfoBlock, Banner) == 8, "InfoBlock.Banner");
DAZARAZ_ASSERT(offsetof(InfoBlock, DataSize) == 12, "InfoBlock.DataSize");
DAZARAZ_ASSERT(offsetof(InfoBlock, InfoValueB) == 16, "InfoBlock.InfoValueB");
DAZARAZ_ASSERT(offsetof(InfoBlock, DefaultLine) == 20, "InfoBlock.DefaultLine");
DAZARAZ_ASSERT(offsetof(InfoBlock, InfoValueC) == 28, "InfoBlock.InfoValueC");
DAZARAZ_ASSERT(sizeof(InfoBlock) == 32, "InfoBlock");
DAZARAZ_ASSERT(offsetof(ParseRecord, Kind) == 8, "ParseRecord.Kind");
DAZARAZ_ASSERT(offsetof(ParseRecord, TagAddress) == 16, "ParseRecord.TagAddress");
DAZARAZ_ASSERT(sizeof(ParseRecord) == 36, "ParseRecord");
DAZARAZ_ASSERT(offsetof(TagRecord, TagAddress) == 8, "TagRecord.TagAddress");
DAZARAZ_ASSERT(offsetof(TagRecord, Count) == 32, "TagRecord.Count");
DAZARAZ_ASSERT(offsetof(TagRecord, ValueCell) == 40, "TagRecord.ValueCell");
DAZARAZ_ASSERT(sizeof(TagRecord) == 44, "TagRecord");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
/* The same fields with 8-byte pointers and natural alignment. */
DAZARAZ_ASSERT(offsetof(CallBlock, Function) == 8, "CallBlock.Function");
DAZARAZ_ASSERT(offsetof(CallBlock, Instance) == 12, "CallBlock.Instance");
DAZARAZ_ASSERT(offsetof(CallBlock, Unused12) == 16, "CallBlock.Unused12");
DAZARAZ_ASSERT(offsetof(CallBlock, Params) == 24, "CallBlock.Params");
DAZARAZ_ASSERT(sizeof(CallBlock) == 32, "CallBlock");
DAZARAZ_ASSERT(offsetof(InfoBlock, DriverName) == 8, "InfoBlock.DriverName");
DAZARAZ_ASSERT(offsetof(InfoBlock, Banner) == 16, "InfoBlock.Banner");
DAZARAZ_ASSERT(offsetof(InfoBlock, DataSize) == 24, "InfoBlock.DataSize");
DAZARAZ_ASSERT(offsetof(InfoBlock, InfoValueB) == 28, "InfoBlock.InfoValueB");
DAZARAZ_ASSERT(offsetof(InfoBlock, DefaultLine) == 32, "InfoBlock.DefaultLine");
DAZARAZ_ASSERT(offsetof(InfoBlock, InfoValueC) == 40, "InfoBlock.InfoValueC");
DAZARAZ_ASSERT(sizeof(InfoBlock) == 48, "InfoBlock");
DAZARAZ_ASSERT(offsetof(ParseRecord, Unused4) == 8, "ParseRecord.Unused4");
DAZARAZ_ASSERT(offsetof(ParseRecord, Kind) == 12, "ParseRecord.Kind");
DAZARAZ_ASSERT(offsetof(ParseRecord, TagAddress) == 20, "ParseRecord.TagAddress");
DAZARAZ_ASSERT(sizeof(ParseRecord) == 40, "ParseRecord");
DAZARAZ_ASSERT(offsetof(TagRecord, Unused4) == 8, "TagRecord.Unused4");
DAZARAZ_ASSERT(offsetof(TagRecord, TagAddress) == 12, "TagRecord.TagAddress");
DAZARAZ_ASSERT(offsetof(TagRecord, Count) == 36, "TagRecord.Count");
DAZARAZ_ASSERT(offsetof(TagRecord, ValueCell) == 48, "TagRecord.ValueCell");
DAZARAZ_ASSERT(sizeof(TagRecord) == 56, "TagRecord");
#endif

#undef DAZARAZ_ASSERT

#endif /* DAZARAZ_HOST_RECORDS_H */
