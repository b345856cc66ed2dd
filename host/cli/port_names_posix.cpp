// port_names_posix.cpp - port names on Linux, as the driver opens them: a
// name with '/' is a path, any other name a device under /dev.
#include "port_names.h"

#include <sys/stat.h>
#include <unistd.h>

namespace dazaraz::cli {

std::string PortOpenProblem(const std::string &port) {
    const std::string path = port.find('/') != std::string::npos ? port : "/dev/" + port;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return path + " does not exist";
    if (access(path.c_str(), R_OK | W_OK) != 0) return "no permission to read and write " + path;
    if (!S_ISCHR(st.st_mode)) return path + " is not a serial device";
    return "another program holds " + path + " (the driver opens ports for exclusive use)";
}

}  // namespace dazaraz::cli
