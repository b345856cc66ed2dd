// pty.cpp - opening the pseudo-terminal pair.
#include "pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace dazaraz::sim::detail {

namespace {

[[noreturn]] void Throw(const char *what) { throw std::system_error(errno, std::generic_category(), what); }

void MakeRaw(int fd, const char *what) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) Throw(what);
    cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL;
    if (tcsetattr(fd, TCSANOW, &t) != 0) Throw(what);
}

}  // namespace

void Pty::Open() {
    Close();
    try {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) Throw("posix_openpt");
        if (grantpt(master_) != 0) Throw("grantpt");
        if (unlockpt(master_) != 0) Throw("unlockpt");
        char name[128];
        if (int rc = ptsname_r(master_, name, sizeof name); rc != 0) {
            errno = rc;
            Throw("ptsname_r");
        }
        slavePath_ = name;
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) Throw("open pty slave");
        MakeRaw(slave_, "raw mode on the pty slave");
        MakeRaw(master_, "raw mode on the pty master");
        const int flags = fcntl(master_, F_GETFL);
        if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) Throw("non-blocking pty master");
    } catch (...) {
        Close();
        throw;
    }
}

void Pty::Close() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
    slavePath_.clear();
}

}  // namespace dazaraz::sim::detail
