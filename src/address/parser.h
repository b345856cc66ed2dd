// parser.h - the tag address parser (function 3).
#ifndef DAZARAZ_PARSER_H
#define DAZARAZ_PARSER_H

#include <stdint.h>

#include "entry/host_records.h"

enum { PARSE_MAX_TEXT = 32 };

uint16_t SingleParse(CallBlock *block);
uint16_t Parse(CallBlock *block);

#endif
