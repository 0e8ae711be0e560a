#include "platform/linux/ini_port_store.h"

#include "common/path_text.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace tessell::platform {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Whether `text` comes back unchanged from a "name=value" line: printable
// single bytes or UTF-8, no line breaks, no blanks at either end.
bool survivesLine(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return trimmed(text).size() == text.size();
}

bool equalNames(std::string_view left, std::string_view right) {
    const ValueNameLess less;
    return !less(left, right) && !less(right, left);
}

std::string systemError(int error) {
    return std::generic_category().message(error);
}

// Writes all of `text` to `descriptor`.
bool writeAllBytes(int descriptor, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(descriptor, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename of an entry of `folder` last across a power cut. A file
// system that cannot sync a folder has nothing more to make durable.
void syncFolder(const std::filesystem::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    ::fsync(descriptor);
    ::close(descriptor);
}

} // namespace

std::filesystem::path userPortStoreFile() {
    std::filesystem::path folder;
    // The base-directory rules: a relative XDG_CONFIG_HOME is ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config && std::filesystem::path(config).is_absolute()) {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            return {};
        folder = std::filesystem::path(home) / ".config";
    }
    return folder / "tessell" / "port-memory.ini";
}

bool portStoreText(const StoredValues& values, std::string& text, std::string& problem) {
    text = "; The hub ports of the multi-camera station, taught with \"tessell ports\" or\n"
           "; Port Setting. \"SavedCount\" says how many slots are valid.\n";
    text += "[" + std::string(kPortStoreSection) + "]\n";
    for (const auto& [name, value] : values) {
        if (name.empty() || !survivesLine(name) || name.find('=') != std::string::npos ||
            name.front() == ';' || name.front() == '#' || name.front() == '[') {
            problem = "the value name \"" + name + "\" cannot be stored";
            return false;
        }
        std::string line;
        if (const auto* number = std::get_if<std::uint32_t>(&value)) {
            line = std::to_string(*number);
        } else {
            line = std::get<std::string>(value);
            if (!survivesLine(line)) {
                problem = "the value of \"" + name + "\" cannot be stored";
                return false;
            }
        }
        text += name + "=" + line + "\n";
    }
    return true;
}

bool parsePortStoreText(std::string_view text, StoredValues& values, std::string& problem) {
    values.clear();
    const auto damaged = [&](int lineNumber, const std::string& why) {
        values.clear();
        problem = "damaged at line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    if (text.find('\0') != std::string_view::npos)
        return damaged(1, "it holds a NUL byte");
    bool inSection = false;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = trimmed(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const std::string expected = "[" + std::string(kPortStoreSection) + "]";
            if (inSection || !equalNames(line, expected))
                return damaged(lineNumber, "a section other than " + expected);
            inSection = true;
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || !inSection)
            return damaged(lineNumber, "not a \"name=value\" line of " + std::string("[") +
                                           std::string(kPortStoreSection) + "]");
        const std::string name(trimmed(line.substr(0, equals)));
        if (name.empty())
            return damaged(lineNumber, "a value without a name");
        if (!values.emplace(name, std::string(trimmed(line.substr(equals + 1)))).second)
            return damaged(lineNumber, "\"" + name + "\" is given twice");
    }
    return true;
}

IniPortStore::IniPortStore(std::filesystem::path file) : file_(std::move(file)) {}

std::string IniPortStore::location() const {
    return file_.empty() ? std::string("(no configuration folder: neither XDG_CONFIG_HOME nor "
                                       "HOME is set)")
                         : pathText(file_);
}

bool IniPortStore::read(StoredValues& values, std::string& problem) {
    values.clear();
    if (file_.empty())
        return true;
    const int descriptor = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT)
            return true; // nothing taught yet
        problem = "cannot be read: " + systemError(errno);
        return false;
    }
    std::string text;
    char buffer[4096];
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = errno;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kPortStoreMaxBytes)
            break;
    }
    ::close(descriptor);
    if (error) {
        problem = "cannot be read: " + systemError(error);
        return false;
    }
    if (text.size() > kPortStoreMaxBytes) {
        problem = "damaged: larger than " + std::to_string(kPortStoreMaxBytes / 1024) + " KiB";
        return false;
    }
    return parsePortStoreText(text, values, problem);
}

bool IniPortStore::writeAll(const StoredValues& values, std::string& problem) {
    if (file_.empty()) {
        problem = "no configuration folder: neither XDG_CONFIG_HOME nor HOME is set";
        return false;
    }
    std::string text;
    if (!portStoreText(values, text, problem))
        return false;

    const auto folder = file_.parent_path();
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        problem = "cannot make the folder " + pathText(folder) + ": " + made.message();
        return false;
    }
    // One fixed name: a temporary file a power cut left behind is simply
    // written over by the next save.
    auto temporary = file_;
    temporary += ".tmp";
    const int descriptor =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (descriptor < 0) {
        problem = "cannot write " + pathText(temporary) + ": " + systemError(errno);
        return false;
    }
    // The data must be on the disk before the rename makes it the store.
    bool written = writeAllBytes(descriptor, text) && ::fsync(descriptor) == 0;
    int error = written ? 0 : errno;
    if (::close(descriptor) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.c_str(), file_.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        problem = "cannot write " + pathText(file_) + ": " + systemError(error);
        return false;
    }
    syncFolder(folder);
    return true;
}

std::unique_ptr<PortStore> makeUserPortStore() {
    return std::make_unique<IniPortStore>(userPortStoreFile());
}

} // namespace tessell::platform
