// failure.h - exit statuses of the dazaraz program and the exception that
// carries a failure, with its one-line explanation, up to main.
#ifndef DAZARAZ_CLI_FAILURE_H
#define DAZARAZ_CLI_FAILURE_H

#include <stdexcept>
#include <string>

namespace dazaraz::cli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitRefused = 1,  // the driver refused (result 1): bad tag, read-only area, NAK
    kExitFailed = 2,   // the driver failed (result 2), or the port or the driver could not be had
    kExitUsage = 64,   // the command line or a tag file is wrong
};

// Thrown to end a command: main prints "dazaraz: <what>" on standard error
// and exits with the status.
class Failure : public std::runtime_error {
public:
    Failure(int status, const std::string &explanation) : std::runtime_error(explanation), status_(status) {}
    int Status() const { return status_; }

private:
    int status_;
};

inline Failure UsageError(const std::string &explanation) { return Failure(kExitUsage, explanation); }

// The worse of two statuses: failed beats refused beats success.
inline int Worse(int a, int b) { return a > b ? a : b; }

}  // namespace dazaraz::cli

#endif
