// pty.h - a pseudo-terminal pair in raw mode, the simulator's end of the line.
#ifndef DAZARAZ_SIM_PTY_H
#define DAZARAZ_SIM_PTY_H

#include <string>

namespace dazaraz::sim::detail {

// The master side (non-blocking) for the simulator, and one descriptor of the
// slave side held open so that the pty does not hang up while the driver has
// it closed. Both are in raw mode. Never locks the slave: the driver takes
// its own exclusive lock when it opens the port.
class Pty {
public:
    Pty() = default;
    ~Pty() { Close(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    void Open();  // throws std::system_error
    void Close();
    int Master() const { return master_; }
    const std::string &SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace dazaraz::sim::detail

#endif
