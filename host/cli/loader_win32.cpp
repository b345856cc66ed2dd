// loader_win32.cpp - the driver library through LoadLibrary.
//
// Paths are narrow strings in the ANSI code page, as the program's arguments
// arrive; the A functions of kernel32 take them as they are.
#include "loader.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace dazaraz::cli {

namespace {

class Win32Library : public DriverLibrary {
public:
    Win32Library(HMODULE module, KivMainFunction entry, std::string path)
        : module_(module), entry_(entry), path_(std::move(path)) {}
    ~Win32Library() override { FreeLibrary(module_); }
    Win32Library(const Win32Library &) = delete;
    Win32Library &operator=(const Win32Library &) = delete;
    KivMainFunction Entry() const override { return entry_; }
    const std::string &Path() const override { return path_; }

private:
    HMODULE module_;
    KivMainFunction entry_;
    std::string path_;
};

// The system's text for an error code, without its closing line break:
// "The specified module could not be found. (error 126)".
std::string SystemMessage(DWORD code) {
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = n > 0 && text ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return (message.empty() ? "system error" : message) + " (error " + std::to_string(code) + ")";
}

bool HasDirectory(const std::string &path) { return path.find_first_of("\\/:") != std::string::npos; }

// The absolute form of a path (the altered search needs one).
std::string FullPath(const std::string &path) {
    const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::string full(size, '\0');
    const DWORD n = GetFullPathNameA(path.c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) return path;
    full.resize(n);
    return full;
}

// The directory of the running program, from GetModuleFileName.
std::string ProgramDirectory() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);  // truncated: try a larger buffer
    }
    const auto separator = path.find_last_of("\\/");
    return separator == std::string::npos ? "." : path.substr(0, separator);
}

}  // namespace

std::unique_ptr<DriverLibrary> LoadDriverLibrary(const std::string &path, std::string *error) {
    // A path with a directory: the DLLs that the driver imports are looked
    // for in its own directory first. A bare name goes through the usual
    // search, which starts in the program's directory.
    const bool withDirectory = HasDirectory(path);
    const std::string file = withDirectory ? FullPath(path) : path;
    HMODULE module = LoadLibraryExA(file.c_str(), nullptr, withDirectory ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    if (module == nullptr) {
        if (error) *error = path + ": " + SystemMessage(GetLastError());
        return nullptr;
    }
    const FARPROC symbol = GetProcAddress(module, "KivMain");
    if (symbol == nullptr) {
        if (error) *error = path + " does not export KivMain";
        FreeLibrary(module);
        return nullptr;
    }
    // GetProcAddress answers a generic function pointer; KivMain's own type
    // is restored through void *.
    return std::make_unique<Win32Library>(
        module, reinterpret_cast<KivMainFunction>(reinterpret_cast<void *>(symbol)), path);
}

std::vector<std::string> DefaultDriverPaths() {
    // A Windows install keeps the program and its DLLs in one directory, and
    // so does the build.
    return {ProgramDirectory() + "\\DAZARAZ.dll"};
}

}  // namespace dazaraz::cli
