// parser.h - the tag address parser (function 3).
//
// SingleParse is the handler of function 3 (SingleAddressParser): Parse
// checks the ParseRecord's AddressText and writes its TagAddress, then the
// host's tag kind is checked against the first type letter. Parsing touches
// neither the serial line nor DriverData (CallBlock.Data is never read).
// Every refusal logs exactly one category-32 line and answers 1.
#ifndef DAZARAZ_PARSER_H
#define DAZARAZ_PARSER_H

#include <stdint.h>

#include "entry/host_records.h"

enum {
    PARSE_MAX_TEXT = 32,                       // longest address text accepted by the length limit
    PARSE_COPY_SIZE = PARSE_MAX_TEXT + 1,      // the working copy: 32 characters and the terminator
    PARSE_CHECKED_POSITIONS = 8,               // character sets by position; the eighth is empty
    PARSE_ADDRESS_TEXT_LENGTH = 6              // the only valid total length
};

uint16_t SingleParse(CallBlock *block);
uint16_t Parse(CallBlock *block);

#endif
