// loader_posix.cpp - the driver library through dlopen.
#include "loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>

namespace dazaraz::cli {

namespace {

class PosixLibrary : public DriverLibrary {
public:
    PosixLibrary(void *handle, KivMainFunction entry, std::string path)
        : handle_(handle), entry_(entry), path_(std::move(path)) {}
    ~PosixLibrary() override { dlclose(handle_); }
    PosixLibrary(const PosixLibrary &) = delete;
    PosixLibrary &operator=(const PosixLibrary &) = delete;
    KivMainFunction Entry() const override { return entry_; }
    const std::string &Path() const override { return path_; }

private:
    void *handle_;
    KivMainFunction entry_;
    std::string path_;
};

// The directory of the running program, from /proc/self/exe.
std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string text(path, static_cast<std::size_t>(n));
    const auto slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

std::unique_ptr<DriverLibrary> LoadDriverLibrary(const std::string &path, std::string *error) {
    // RTLD_LOCAL keeps the driver's symbols to itself; its err binds to
    // libtolvex, which this program has loaded already.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = dlerror();
        if (error) *error = why ? why : ("cannot load " + path);
        return nullptr;
    }
    dlerror();
    void *symbol = dlsym(handle, "KivMain");
    if (symbol == nullptr) {
        if (error) *error = path + " does not export KivMain";
        dlclose(handle);
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle, reinterpret_cast<KivMainFunction>(symbol), path);
}

std::vector<std::string> DefaultDriverPaths() {
    const std::string dir = ProgramDirectory();
    const std::string name = "libdazaraz.so";
    std::vector<std::string> paths{dir + "/" + name};
    // Relative places set by the build: bin -> lib of an install, and the
    // program's directory -> src of the build tree.
    for (const char *relative : {DAZARAZ_CLI_INSTALL_LIBDIR, DAZARAZ_CLI_BUILD_LIBDIR, "../lib", "../src"}) {
        const std::string path =
            (std::filesystem::path(dir) / relative / name).lexically_normal().string();
        bool known = false;
        for (const auto &p : paths) known = known || p == path;
        if (!known) paths.push_back(path);
    }
    return paths;
}

}  // namespace dazaraz::cli
