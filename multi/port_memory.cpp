#include "multi/port_memory.h"

#include <charconv>
#include <cstdio>
#include <optional>

namespace tessell {

namespace {

constexpr int kMaxPort = 65535;

// "%02d" of a slot number: how the operator and the value names count slots.
std::string twoDigits(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    return text;
}

std::string slotName(int number, const char* suffix) {
    return twoDigits(number) + "-" + suffix;
}

// A stored number: a number value, or a text of decimal digits (a store
// that keeps only text).
std::optional<std::uint32_t> storedNumber(const platform::StoredValues& values,
                                          const std::string& name) {
    const auto found = values.find(name);
    if (found == values.end())
        return std::nullopt;
    if (const auto* number = std::get_if<std::uint32_t>(&found->second))
        return *number;
    const auto& text = std::get<std::string>(found->second);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return number;
}

const std::string* storedText(const platform::StoredValues& values, const std::string& name) {
    const auto found = values.find(name);
    if (found == values.end())
        return nullptr;
    return std::get_if<std::string>(&found->second);
}

// The slots of a stored table into `memory`; the reason when it is refused.
std::string readTable(const platform::StoredValues& values, PortMemory& memory, int& count) {
    count = 0;
    if (values.find("SavedCount") == values.end())
        return {};
    const auto saved = storedNumber(values, "SavedCount");
    if (!saved)
        return "\"SavedCount\" is not a number";
    if (*saved > static_cast<std::uint32_t>(kPortSlotCount))
        return "\"SavedCount\" is " + std::to_string(*saved) + ", above " +
               std::to_string(kPortSlotCount);
    for (int number = 1; number <= static_cast<int>(*saved); ++number) {
        const std::string* hub = storedText(values, slotName(number, "HubName"));
        const auto port = storedNumber(values, slotName(number, "RealNum"));
        const std::string slot = "slot " + twoDigits(number);
        if (!hub || !port)
            return slot + " is missing or unreadable";
        if (*port > static_cast<std::uint32_t>(kMaxPort) ||
            !RememberablePort(*hub, static_cast<int>(*port)))
            return slot + " does not hold a hub port";
        if (memory.LearnPort(*hub, static_cast<int>(*port), number - 1) != 1)
            return slot + " repeats the port of slot " +
                   twoDigits(memory.FindPortSlot(*hub, static_cast<int>(*port)) + 1);
    }
    count = static_cast<int>(*saved);
    return {};
}

} // namespace

bool RememberablePort(std::string_view hub, int port) {
    if (port < 1 || port > kMaxPort || hub.empty() || hub.size() > kMaxHubText)
        return false;
    if (hub.front() == ' ' || hub.back() == ' ')
        return false;
    for (const char c : hub) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

int PortMemory::FindPortSlot(std::string_view hub, int port) const {
    for (int index = 0; index < kPortSlotCount; ++index) {
        const PortSlot& slot = slots_[static_cast<std::size_t>(index)];
        if (slot.used() && slot.port == port && slot.hub == hub)
            return index;
    }
    return -1;
}

int PortMemory::UsedSlotCount() const {
    int used = 0;
    for (const PortSlot& slot : slots_)
        if (slot.used())
            ++used;
    return used;
}

int PortMemory::LearnPort(std::string_view hub, int port, int slot) {
    if (slot < 0 || slot >= kPortSlotCount || !RememberablePort(hub, port) ||
        FindPortSlot(hub, port) != -1)
        return 0;
    PortSlot& target = slots_[static_cast<std::size_t>(slot)];
    target.hub = std::string(hub);
    target.port = port;
    return 1;
}

void PortMemory::Clear() {
    for (PortSlot& slot : slots_)
        slot.port = -1;
}

PortMemoryLoad LoadPortMemory(platform::PortStore& store, PortMemory& memory,
                              MultiBurnState& state) {
    memory = PortMemory();
    PortMemoryLoad load;
    platform::StoredValues values;
    if (store.read(values, load.problem))
        load.problem = readTable(values, memory, load.count);
    if (load.count == 0) {
        // Half a table is no table: the operator teaches the ports again.
        memory = PortMemory();
        state = MultiBurnState::Learning;
    } else {
        state = MultiBurnState::Standby;
    }
    return load;
}

PortMemorySave SavePortMemory(platform::PortStore& store, const PortMemory& memory,
                              MultiBurnState& state) {
    PortMemorySave save;
    // The store's other values stay as they are. A store that cannot be read
    // (damaged) is replaced by the table alone.
    platform::StoredValues values;
    std::string unreadable;
    if (!store.read(values, unreadable))
        values.clear();
    for (int index = 0; index < kPortSlotCount; ++index) {
        const PortSlot& slot = memory.slot(index);
        if (!slot.used())
            continue;
        values[slotName(index + 1, "HubName")] = slot.hub;
        values[slotName(index + 1, "RealNum")] = static_cast<std::uint32_t>(slot.port);
        ++save.count;
    }
    values["SavedCount"] = static_cast<std::uint32_t>(save.count);
    save.written = store.writeAll(values, save.problem);
    state = save.count > 0 ? MultiBurnState::Standby : MultiBurnState::Learning;
    return save;
}

} // namespace tessell
