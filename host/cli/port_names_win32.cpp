// port_names_win32.cpp - port names on Windows, as the driver opens them:
// the name goes to CreateFile as it is. COM1 to COM9 are names of their own;
// higher ports are opened through the device namespace, \\.\COM10.
#include "port_names.h"

#include <cctype>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace dazaraz::cli {

namespace {

// COM followed by two digits or more, without the \\.\ prefix.
bool NeedsDevicePrefix(const std::string &port) {
    if (port.size() < 5) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i]) return false;
    for (std::size_t i = 3; i < port.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(port[i]))) return false;
    return true;
}

}  // namespace

std::string PortOpenProblem(const std::string &port) {
    // The driver says only that it could not open the port: opening it again
    // the same way tells why.
    HANDLE h = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DCB dcb;
        ZeroMemory(&dcb, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        const bool serial = GetCommState(h, &dcb) != 0;
        // The driver sets the line after the open: the port's own settings
        // given back tell whether it takes settings at all.
        const bool settable = serial && SetCommState(h, &dcb) != 0;
        const DWORD setError = settable ? 0 : GetLastError();
        CloseHandle(h);
        if (!serial) return port + " is not a serial port (it opens, but takes no line settings)";
        if (!settable)
            return port + " refuses line settings (system error " + std::to_string(setError) + ")";
        return port + " opens now with its present line settings: another program may have held it (the driver "
                      "opens ports for exclusive use), or the port refused the line settings asked for (--line)";
    }
    const DWORD error = GetLastError();
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
        if (NeedsDevicePrefix(port))
            return port + " does not exist (ports above COM9 are named \\\\.\\" + port + ")";
        return port + " does not exist";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "another program holds " + port + " (the driver opens ports for exclusive use)";
    default:
        return port + " cannot be opened (system error " + std::to_string(error) + ")";
    }
}

}  // namespace dazaraz::cli
