// stop_signals.cpp - the flag that the signal handlers set.
#include "stop_signals.h"

namespace dazaraz::cli {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void RequestStop(int) { stopRequested = 1; }

}  // namespace

StopSignals::StopSignals() {
    stopRequested = 0;
    previousInt_ = std::signal(SIGINT, RequestStop);
    previousTerm_ = std::signal(SIGTERM, RequestStop);
}

StopSignals::~StopSignals() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
}

bool StopSignals::Requested() const { return stopRequested != 0; }

}  // namespace dazaraz::cli
