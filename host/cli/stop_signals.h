// stop_signals.h - Ctrl-C (SIGINT) and SIGTERM as a request to stop: the
// work in progress (a read, a demo step) finishes, then the command winds up
// cleanly, ends the driver and exits.
#ifndef DAZARAZ_CLI_STOP_SIGNALS_H
#define DAZARAZ_CLI_STOP_SIGNALS_H

#include <csignal>

namespace dazaraz::cli {

class StopSignals {
public:
    StopSignals();   // installs the handlers
    ~StopSignals();  // puts the previous ones back
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;
    bool Requested() const;

private:
    void (*previousInt_)(int);
    void (*previousTerm_)(int);
};

}  // namespace dazaraz::cli

#endif
