// The Windows services against the real system calls (under Wine in CI):
// the port memory's registry round trip, the single-instance mutex, and the
// INI reader compared with the system's own private-profile functions.

#include "multi/multi_burn_state.h"
#include "multi/port_memory.h"
#include "platform/instance_guard.h"
#include "platform/windows/registry_port_store.h"
#include "platform/windows/windows_text.h"
#include "station/private_profile.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace tessell {
namespace {

using platform::windows::RegistryPortStore;
using platform::windows::utf8Text;
using platform::windows::wideText;
using testing::TempDir;

// A key of the test's own under HKCU, removed with everything below it.
class ScratchKey {
public:
    ScratchKey() : name_(L"SOFTWARE\\TessellTest-" + std::to_wstring(std::random_device()())) {}
    ~ScratchKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str()); }
    const std::wstring& name() const { return name_; }

    DWORD number(const wchar_t* value) const {
        DWORD data = 0;
        DWORD size = sizeof data;
        DWORD type = 0;
        const LSTATUS status =
            ::RegGetValueW(HKEY_CURRENT_USER, name_.c_str(), value,
                           RRF_RT_ANY | RRF_SUBKEY_WOW6464KEY, &type, &data, &size);
        return status == ERROR_SUCCESS && type == REG_DWORD ? data : 0xFFFFFFFFu;
    }
    std::string text(const wchar_t* value) const {
        wchar_t data[300] = {};
        DWORD size = sizeof data;
        DWORD type = 0;
        const LSTATUS status =
            ::RegGetValueW(HKEY_CURRENT_USER, name_.c_str(), value,
                           RRF_RT_ANY | RRF_SUBKEY_WOW6464KEY, &type, data, &size);
        return status == ERROR_SUCCESS && type == REG_SZ ? utf8Text(data) : "(none)";
    }

private:
    std::wstring name_;
};

// The table saved through the real store lands under the value names and
// types other tools read, and comes back whole; a shorter table replaces it.
TEST(RegistryPortStore, PortMemoryRoundTripThroughTheRegistry) {
    ScratchKey key;
    RegistryPortStore store(HKEY_CURRENT_USER, key.name());
    MultiBurnState state = MultiBurnState::Standby;
    PortMemory empty;
    EXPECT_EQ(LoadPortMemory(store, empty, state).count, 0) << "no key yet: nothing taught";
    EXPECT_EQ(state, MultiBurnState::Learning);

    PortMemory taught;
    const std::string hub = "USB\\ROOT_HUB30\\4&1A2B3C4D&0 \xC3\xA9"; // a non-ASCII letter too
    ASSERT_EQ(taught.LearnPort(hub, 3, 0), 1);
    ASSERT_EQ(taught.LearnPort("hub-b", 12, 1), 1);
    const PortMemorySave saved = SavePortMemory(store, taught, state);
    ASSERT_TRUE(saved.written) << saved.problem;
    EXPECT_EQ(key.number(L"SavedCount"), 2u);
    EXPECT_EQ(key.text(L"01-HubName"), hub);
    EXPECT_EQ(key.number(L"01-RealNum"), 3u);
    EXPECT_EQ(key.text(L"02-HubName"), "hub-b");
    EXPECT_EQ(key.number(L"02-RealNum"), 12u);

    PortMemory loaded;
    EXPECT_EQ(LoadPortMemory(store, loaded, state).count, 2);
    EXPECT_EQ(state, MultiBurnState::Standby);
    EXPECT_EQ(loaded.FindPortSlot(hub, 3), 0);
    EXPECT_EQ(loaded.FindPortSlot("hub-b", 12), 1);
    EXPECT_EQ(loaded.FindPortSlot("HUB-B", 12), -1) << "hub texts keep their letter case";

    PortMemory cleared;
    ASSERT_TRUE(SavePortMemory(store, cleared, state).written);
    EXPECT_EQ(key.number(L"SavedCount"), 0u);
    EXPECT_EQ(LoadPortMemory(store, loaded, state).count, 0);
    EXPECT_EQ(state, MultiBurnState::Learning);
}

TEST(InstanceGuard, TheNamedMutexIsHeldOnceUntilItsGuardGoes) {
    const std::string name = "{Tessell-Test-" + std::to_string(std::random_device()()) + "}";
    auto first = platform::makeInstanceGuard({}, name);
    ASSERT_EQ(first->acquire().status, platform::InstanceStatus::Acquired);
    EXPECT_EQ(first->acquire().status, platform::InstanceStatus::Acquired) << "asked again";
    auto second = platform::makeInstanceGuard({}, name);
    EXPECT_EQ(second->acquire().status, platform::InstanceStatus::HeldElsewhere);
    first.reset();
    EXPECT_EQ(second->acquire().status, platform::InstanceStatus::Acquired);
}

// The system's answers for one file, as UTF-8.
struct SystemProfile {
    std::wstring file;

    std::string string(const char* section, const char* key, const char* fallback,
                       DWORD buffer) const {
        std::vector<wchar_t> out(buffer + 1, L'#');
        const DWORD length = ::GetPrivateProfileStringW(
            wideText(section).c_str(), wideText(key).c_str(), wideText(fallback).c_str(),
            out.data(), buffer, file.c_str());
        return utf8Text(std::wstring_view(out.data(), length));
    }
    int number(const char* section, const char* key, int fallback) const {
        return static_cast<int>(::GetPrivateProfileIntW(
            wideText(section).c_str(), wideText(key).c_str(), fallback, file.c_str()));
    }
    std::string sections(DWORD buffer) const {
        std::vector<wchar_t> out(buffer + 1, L'#');
        const DWORD length = ::GetPrivateProfileSectionNamesW(out.data(), buffer, file.c_str());
        return utf8Text(std::wstring_view(out.data(), length));
    }
};

// Both readers over files a station might hold, where the description of the
// tool's reader claims the system's behaviour. Where the tool departs on
// purpose, the difference itself is asserted.
TEST(PrivateProfileOracle, TheReaderAnswersAsTheSystemDoes) {
    TempDir dir;
    const std::string text = "stray=before any section\r\n"
                             "[SETTING]\r\n"
                             "  BIN = \"cam 1.bin\"  \r\n"
                             "Quoted='x'\r\n"
                             "Mismatch=\"x'\r\n"
                             "Empty=\r\n"
                             "no equals sign here\r\n"
                             "; comment=1\r\n"
                             "Semi=a;b\r\n"
                             "Dup=first\r\n"
                             "dup=second\r\n"
                             "Num=12abc\r\n"
                             "Neg= -7 \r\n"
                             "Plus=+3\r\n"
                             "Hex=0x0C00\r\n"
                             "Word=abc\r\n"
                             "Long=abcdefghij\r\n"
                             "[setting]\r\n"
                             "Late=hidden by the first section\r\n"
                             "[LOG]trailing\rFORMAT={sn}{tab}{result}\r";
    const auto file = dir.write("setting.ini", text);
    const PrivateProfile mine = PrivateProfile::load(file);
    const SystemProfile system{file.wstring()};

    struct Lookup {
        const char* section;
        const char* key;
        DWORD buffer;
    };
    for (const Lookup& lookup : std::vector<Lookup>{{"SETTING", "BIN", 260},
                                                    {"setting", " bin ", 260},
                                                    {"SETTING", "Quoted", 260},
                                                    {"SETTING", "Mismatch", 260},
                                                    {"SETTING", "Empty", 260},
                                                    {"SETTING", "no equals sign here", 260},
                                                    {"SETTING", "Semi", 260},
                                                    {"SETTING", "Dup", 260},
                                                    {"SETTING", "Late", 260},
                                                    {"SETTING", "Long", 5},
                                                    {"SETTING", "Long", 1},
                                                    {"SETTING", "Missing", 260},
                                                    {"LOG", "FORMAT", 260},
                                                    {"LOG", "trailing", 260}}) {
        SCOPED_TRACE(std::string(lookup.section) + "/" + lookup.key + " buffer " +
                     std::to_string(lookup.buffer));
        EXPECT_EQ(mine.getString(lookup.section, lookup.key, "dflt  ", lookup.buffer),
                  system.string(lookup.section, lookup.key, "dflt  ", lookup.buffer));
    }
    for (const char* key : {"Num", "Neg", "Plus", "Missing", "Empty"})
        EXPECT_EQ(mine.getInt("SETTING", key, 77), system.number("SETTING", key, 77)) << key;
    for (const DWORD buffer : {200u, 24u, 23u, 10u, 2u})
        EXPECT_EQ(mine.sectionNames(buffer), system.sections(buffer)) << "buffer " << buffer;

    // Where Wine itself departs from Windows, only the tool's reading is
    // checked: a comment line is no key, a key before any section cannot be
    // read, and "[Open" without its ']' opens a section.
    EXPECT_EQ(mine.getString("SETTING", "; comment", "d", 260), "d");
    EXPECT_EQ(mine.getString("", "stray", "d", 260), "d");
    TempDir other;
    const PrivateProfile open = PrivateProfile::load(other.write("open.ini", "[Open\r\nk=v\r\n"));
    EXPECT_EQ(open.getString("Open", "k", "d", 260), "v");

    // Departures kept on purpose: "0x0C00" is the number 0 followed by text,
    // not hexadecimal; a value that is no number keeps the default.
    EXPECT_EQ(system.number("SETTING", "Hex", 77), 0xC00);
    EXPECT_EQ(mine.getInt("SETTING", "Hex", 77), 0);
    EXPECT_EQ(system.number("SETTING", "Word", 77), 0);
    EXPECT_EQ(mine.getInt("SETTING", "Word", 77), 77);
}

} // namespace
} // namespace tessell
