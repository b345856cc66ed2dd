// parser.cpp - the tag address parser.
#include "address/parser.h"

#include <cstdio>
#include <cstring>

#include "entry/log.h"

namespace {

// Character sets by position 1 to 8; the eighth is empty and ends the check.
const char *const CharacterSets[PARSE_CHECKED_POSITIONS] = {
    "BWT",
    "XYMTC",
    "0123456789ABCDEF",
    "0123456789ABCDEF",
    "0123456789ABCDEF",
    "0123456789ABCDEF",
    "0123456789ABCDEF",
    "",
};

// Area ranges, both bounds included.
enum : uint32_t {
    X_HIGHEST = 0x009F,
    Y_LOWEST = 0x00A0,
    Y_HIGHEST = 0x013F,
    M_LOWEST = 0x0140,
    M_HIGHEST = 0x035F,
    T_LOWEST = 0x03A0,
    T_HIGHEST = 0x03FF,
    C_LOWEST = 0x0400,
    C_HIGHEST = 0x057E
};

// Counts the characters of text, reading at most limit + 1 bytes: answers
// limit + 1 for any longer text without looking further.
size_t BoundedLength(const char *text, size_t limit) {
    size_t n = 0;
    while (n <= limit && text[n] != '\0') ++n;
    return n;
}

// Whether c (not NUL) occurs in the set.
bool InSet(const char *set, char c) { return c != '\0' && std::strchr(set, c) != nullptr; }

// The area range test of step 9, with its message.
uint16_t CheckArea(char area, uint32_t address, const char *text) {
    switch (area) {
    case 'X':
        if (address <= X_HIGHEST) return KIV_DONE;
        err(LOG_REFUSED, "ZIROD> Parse() external input addresss must be < %04XH in '%s'", unsigned{X_HIGHEST},
            text);
        return KIV_REFUSED;
    case 'Y':
        if (Y_LOWEST <= address && address <= Y_HIGHEST) return KIV_DONE;
        err(LOG_REFUSED, "ZIROD> Parse() external output address must be < %04XH and > %04XH in '%s'",
            unsigned{Y_LOWEST}, unsigned{Y_HIGHEST}, text);
        return KIV_REFUSED;
    case 'M':
        if (M_LOWEST <= address && address <= M_HIGHEST) return KIV_DONE;
        err(LOG_REFUSED, "ZIROD> Parse() internal output address must be < %04XH and > %04XH in '%s'",
            unsigned{M_LOWEST}, unsigned{M_HIGHEST}, text);
        return KIV_REFUSED;
    case 'T':
        if (T_LOWEST <= address && address <= T_HIGHEST) return KIV_DONE;
        err(LOG_REFUSED, "ZIROD> Parse() Bit timer/counter address must be < %04XH and > %04XH in '%s'",
            unsigned{T_LOWEST}, unsigned{T_HIGHEST}, text);
        return KIV_REFUSED;
    case 'C':
        if (!(C_LOWEST <= address && address <= C_HIGHEST)) {
            err(LOG_REFUSED, "ZIROD> Parse() Word time/counter address must be < %04XH and > %04XH in '%s'",
                unsigned{C_LOWEST}, unsigned{C_HIGHEST}, text);
            return KIV_REFUSED;
        }
        if ((address & 1u) != 0) {
            err(LOG_REFUSED, "ZIROD> Parse() Word time/counter address must be even in '%s'", text);
            return KIV_REFUSED;
        }
        return KIV_DONE;
    default:
        err(LOG_REFUSED, "ZIROD> Parse() Internal driver error ('%s')", text);
        return KIV_REFUSED;
    }
}

} // namespace

uint16_t Parse(CallBlock *block) {
    ParseRecord *record = block != nullptr ? static_cast<ParseRecord *>(block->Params) : nullptr;
    // No record or no text: nothing to parse and, without a record, nowhere
    // to write. Refused like a text without an address; TagAddress untouched.
    if (record == nullptr || record->AddressText == nullptr) {
        err(LOG_REFUSED, "ZIROD> Parse() Illegal tag addr in '%s'", "");
        return KIV_REFUSED;
    }
    const char *text = record->AddressText;
    TagAddress &tag = record->TagAddress;

    // 1. Length limit (reads at most 33 bytes of the text).
    const size_t length = BoundedLength(text, PARSE_MAX_TEXT);
    if (length > PARSE_MAX_TEXT) {
        err(LOG_REFUSED, "ZIROD> Parse() Tag address string '%s' too long ( > %d)", text, int{PARSE_MAX_TEXT});
        return KIV_REFUSED;
    }

    // 2. The working copy: the text and its terminator; the rest stays NUL.
    char copy[PARSE_COPY_SIZE] = {};
    std::memcpy(copy, text, length + 1);

    // 3. Upper case: a to z only; every other byte unchanged.
    for (size_t i = 0; i < length; ++i) {
        if (copy[i] >= 'a' && copy[i] <= 'z') copy[i] = static_cast<char>(copy[i] - 0x20);
    }

    // 4. Character check up to the terminator or the eighth (empty) set.
    for (size_t p = 0; p < PARSE_CHECKED_POSITIONS && copy[p] != '\0' && CharacterSets[p][0] != '\0'; ++p) {
        if (!InSet(CharacterSets[p], copy[p])) {
            err(LOG_REFUSED, "ZIROD> Parse() Illegal character %d in '%s'", static_cast<int>(p + 1), text);
            return KIV_REFUSED;
        }
    }

    // 5. Reserved, Bit and Type, before any later test can refuse. A text
    // shorter than two characters contributes only what it has.
    const uint8_t first = static_cast<uint8_t>(copy[0]);
    const uint8_t second = length >= 2 ? static_cast<uint8_t>(copy[1]) : 0;
    tag.Reserved = 0;
    tag.Bit = -1;
    tag.Type = uint32_t{first} | (uint32_t{second} << 8);

    // 6. The address: at most four hex digits from the third character.
    // A text of two characters or fewer has no third character: the scan
    // would yield nothing (and for fewer than two would start beyond the
    // terminator), so it is refused here without scanning.
    unsigned int number = 0;
    if (length < 3 || std::sscanf(copy + 2, "%04x", &number) != 1) {
        err(LOG_REFUSED, "ZIROD> Parse() Illegal tag addr in '%s'", text);
        return KIV_REFUSED;
    }
    tag.Address = number;

    // 7. Letter pairs.
    if ((first == 'T' && second != 'C') || (first != 'T' && second == 'C') || (first == 'W' && second == 'T')) {
        err(LOG_REFUSED, "ZIROD> Parse() Illegal type in tag '%s'", text);
        return KIV_REFUSED;
    }

    // 8. Width.
    tag.Width = 1;
    if (first != 'B') tag.Width = 16;

    // 9. Area range.
    if (CheckArea(static_cast<char>(second), tag.Address, text) != KIV_DONE) return KIV_REFUSED;

    // 10. Total length.
    if (length != PARSE_ADDRESS_TEXT_LENGTH) {
        err(LOG_REFUSED, "ZIROD> Parse() Address name has invalid length ('%s')", text);
        return KIV_REFUSED;
    }

    // 11.
    return KIV_DONE;
}

uint16_t SingleParse(CallBlock *block) {
    const uint16_t result = Parse(block);
    if (result != KIV_DONE) return result;

    // Parse accepted, so block, Params and AddressText are all present.
    const ParseRecord *record = static_cast<const ParseRecord *>(block->Params);
    const char *text = record->AddressText;
    const uint32_t kind = record->Kind;
    const uint8_t first = static_cast<uint8_t>(record->TagAddress.Type & 0xFFu);

    if (kind == KIV_KIND_STRING) {
        err(LOG_REFUSED, "ZIROD> SingleParse() no STRING tags allowed gate '%s'", text);
        return KIV_REFUSED;
    }
    if (first == 'B' && kind != KIV_KIND_DIGITAL) {
        err(LOG_REFUSED, "ZIROD> SingleParse() tag '%s' should be DIGITAL", text);
        return KIV_REFUSED;
    }
    if ((first == 'W' || first == 'T') &&
        !(kind == KIV_KIND_ANALOG_0 || kind == KIV_KIND_ANALOG_1 || kind == KIV_KIND_ANALOG_2)) {
        err(LOG_REFUSED, "ZIROD> SingleParse() tag '%s' should be analog", text);
        return KIV_REFUSED;
    }
    return KIV_DONE;
}
