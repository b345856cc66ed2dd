// transaction.h - one request/reply exchange in up to three attempts.
#ifndef DAZARAZ_TRANSACTION_H
#define DAZARAZ_TRANSACTION_H

#include <stdint.h>

#include "entry/driver_data.h"

enum { EXCHANGE_ATTEMPTS = 3 };

// 0 reply accepted, 1 a reply came but was refused, 2 nothing sent or no
// complete reply.
uint16_t SendRecvLoop(DriverData *data);

#endif
