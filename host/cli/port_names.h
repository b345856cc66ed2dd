// port_names.h - what a port name stands for on this system, to explain a
// port that the driver could not open.
#ifndef DAZARAZ_CLI_PORT_NAMES_H
#define DAZARAZ_CLI_PORT_NAMES_H

#include <string>

namespace dazaraz::cli {

// Why the port is likely not to open: "/dev/ttyUSB3 does not exist", or a
// hint about other programs holding it. Never empty.
std::string PortOpenProblem(const std::string &port);

}  // namespace dazaraz::cli

#endif
