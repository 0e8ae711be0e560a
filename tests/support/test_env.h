#pragma once

// Helpers shared by the tests: scoped environment variables and scratch folders.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace tessell::testing {

// The system's path separator, as text to build expected paths with.
inline const std::string
    kPathSeparator(1, static_cast<char>(std::filesystem::path::preferred_separator));

// Sets (or with nullptr unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        set(name, value);
    }
    // A path as the variable's value (a wide path on Windows, whose value
    // takes the system's code page as the tool reads it back).
    ScopedEnv(const char* name, const std::filesystem::path& value)
        : ScopedEnv(name, value.string().c_str()) {}
    ~ScopedEnv() { set(name_.c_str(), old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    static void set(const char* name, const char* value) {
#ifdef _WIN32
        // An empty value removes the variable (from the process's own
        // environment as well, which child processes inherit).
        _putenv_s(name, value ? value : "");
#else
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
#endif
    }

    std::string name_;
    std::optional<std::string> old_;
};

// A fresh folder under the system temporary folder, removed with its contents.
class TempDir {
public:
    TempDir() {
        std::random_device seed;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("tessell-test-" + std::to_string(seed()));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    // Writes `bytes` exactly as given (no line-end translation).
    std::filesystem::path write(std::string_view name, std::string_view bytes) const {
        const auto file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    std::string read(std::string_view name) const { return readFile(path_ / name); }

    static std::string readFile(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path path_;
};

} // namespace tessell::testing
