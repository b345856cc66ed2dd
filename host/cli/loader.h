// loader.h - finding and loading the driver library at run time.
//
// Loading is the part of hosting the driver that differs between systems:
// loader_posix.cpp implements it with dlopen and dlsym; a Windows build
// provides the same two functions with LoadLibrary and GetProcAddress.
#ifndef DAZARAZ_CLI_LOADER_H
#define DAZARAZ_CLI_LOADER_H

#include <memory>
#include <string>
#include <vector>

#include "host_records.h"

namespace dazaraz::cli {

// A loaded driver library; unloaded when destroyed.
class DriverLibrary {
public:
    virtual ~DriverLibrary() = default;
    virtual KivMainFunction Entry() const = 0;  // the exported KivMain
    virtual const std::string &Path() const = 0;
};

// Loads the library at path and looks up KivMain. Answers null and says why
// in *error when either fails.
std::unique_ptr<DriverLibrary> LoadDriverLibrary(const std::string &path, std::string *error);

// Where the driver is looked for when no path is given, in this order: beside
// the program, in the install's library directory, in the build tree.
std::vector<std::string> DefaultDriverPaths();

}  // namespace dazaraz::cli

#endif
