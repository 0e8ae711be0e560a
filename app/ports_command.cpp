#include "app/ports_command.h"

#include "app/camera_services.h"
#include "common/dialog_loop.h"
#include "common/json_text.h"
#include "common/whole_number.h"
#include "multi/identify_hub.h"
#include "multi/port_teaching.h"
#include "platform/console_watch.h"

#include <cstdio>
#include <optional>
#include <ostream>
#include <utility>

namespace tessell {

namespace {

constexpr const char* kPortsUsage = "usage: tessell ports [--json]\n"
                                    "       tessell ports teach [--count N] [--timeout SECONDS]\n"
                                    "       tessell ports set HUB:PORT [HUB:PORT ...]\n"
                                    "       tessell ports clear\n";

int usageError(std::ostream& err, const std::string& problem) {
    err << "tessell ports: " << problem << "\n" << kPortsUsage;
    return kPortsError;
}

void printSlots(const PortMemory& memory, const platform::PortStore& store, std::ostream& out) {
    const int used = memory.UsedSlotCount();
    for (int index = 0; index < used; ++index) {
        char number[16];
        std::snprintf(number, sizeof number, "%02d", index + 1);
        out << number << "  hub " << memory.slot(index).hub << "  port " << memory.slot(index).port
            << "\n";
    }
    if (used == 0)
        out << "no port remembered";
    else
        out << used << (used == 1 ? " port remembered" : " ports remembered");
    out << " in " << store.location() << "\n";
}

void reportLoad(const PortMemoryLoad& load, const platform::PortStore& store, std::ostream& err) {
    if (!load.problem.empty())
        err << "tessell ports: " << store.location() << ": " << load.problem
            << "; taken as no port remembered\n";
}

int reportSave(const PortMemorySave& save, const platform::PortStore& store, std::ostream& err) {
    if (save.written)
        return kPortsDone;
    err << "tessell ports: the ports are not saved in " << store.location() << ": " << save.problem
        << "\n";
    return kPortsNotSaved;
}

// `set`: the pairs in the order given, checked whole before anything is written.
int setPorts(const std::vector<std::string>& pairs, platform::PortStore& store, std::ostream& out,
             std::ostream& err) {
    if (pairs.empty())
        return usageError(err, "set needs at least one HUB:PORT");
    if (pairs.size() > static_cast<std::size_t>(kPortSlotCount))
        return usageError(err, "set takes at most " + std::to_string(kPortSlotCount) + " ports");
    PortMemory memory;
    for (const std::string& pair : pairs) {
        const auto colon = pair.rfind(':');
        const auto port = colon == std::string::npos
                              ? std::nullopt
                              : parseWholeNumber<long long>(pair.substr(colon + 1));
        const std::string hub = colon == std::string::npos ? pair : pair.substr(0, colon);
        if (!port || *port < 1 || *port > 65535 || !RememberablePort(hub, static_cast<int>(*port)))
            return usageError(err, "\"" + pair +
                                       "\" is not HUB:PORT (a hub name of 1 to 254 printable "
                                       "characters, a port from 1 to 65535)");
        const int port32 = static_cast<int>(*port);
        if (memory.FindPortSlot(hub, port32) != -1)
            return usageError(err, "\"" + pair + "\" is given twice");
        memory.LearnPort(hub, port32, memory.UsedSlotCount());
    }
    MultiBurnState state = MultiBurnState::Learning;
    const int status = reportSave(SavePortMemory(store, memory, state), store, err);
    if (status == kPortsDone)
        printSlots(memory, store, out);
    return status;
}

// "Celar" then OK.
int clearPorts(platform::PortStore& store, std::ostream& out, std::ostream& err) {
    PortMemory memory;
    MultiBurnState state = MultiBurnState::Learning;
    LoadPortMemory(store, memory, state);
    memory.Clear();
    const int status = reportSave(SavePortMemory(store, memory, state), store, err);
    if (status == kPortsDone)
        printSlots(memory, store, out);
    return status;
}

// The Port Setting dialog as lines: each message the operator is to read.
class LineView final : public PortSettingView {
public:
    explicit LineView(std::ostream& out) : out_(out) {}
    void showMessage(std::string_view text) override {
        if (!text.empty())
            out_ << text << std::endl;
    }
    void showRows(const std::vector<PortSettingRow>&) override {}

private:
    std::ostream& out_;
};

struct TeachOptions {
    int count = 0; // 0: until stopped
    int seconds = kTeachDefaultSeconds;
};

int teachPorts(const TeachOptions& options, platform::PortStore& store, std::ostream& out,
               std::ostream& err) {
    std::string error;
    const platform::CameraServices services = processCameraServices(error);
    if (!services) {
        err << "tessell ports: " << error << "\n";
        return kPortsError;
    }
    PortMemory memory;
    MultiBurnState state = MultiBurnState::Learning;
    reportLoad(LoadPortMemory(store, memory, state), store, err);
    const int free = kPortSlotCount - memory.UsedSlotCount();
    if (options.count > free) {
        err << "tessell ports teach: --count " << options.count << " but only " << free
            << " slots are free; \"tessell ports clear\" forgets the ports remembered\n";
        return kPortsError;
    }

    PortTeaching* teacher = nullptr;
    DialogLoop loop([&teacher](int id) {
        if (teacher)
            teacher->OnTimer(id);
    });
    PortTeaching teaching({services.devices, services.usb}, loop, memory, state);
    teacher = &teaching;
    LineView view(out);
    IdentifyHub dialog(memory, state, view);

    // What the Setting command does before it shows Port Setting.
    const int cameras = teaching.CountCameras();
    state = MultiBurnState::Learning;
    teaching.setPortSetting(&dialog);
    char firstSlot[16];
    std::snprintf(firstSlot, sizeof firstSlot, "%02d", memory.UsedSlotCount() + 1);
    out << "Plug one camera into each port of the station in turn, from slot " << firstSlot
        << " on. Ctrl-C or the end of input (Ctrl-D) ends teaching and saves the ports; "
        << "teaching stops by itself after " << options.seconds << " s." << std::endl;
    dialog.OnInitDialog(cameras);

    std::optional<platform::ConsoleEnd> ended;
    auto notifications =
        services.hotplug->subscribe([&loop, &teaching](const platform::HotplugEvent& event) {
            loop.post([&teaching, event] { teaching.OnDeviceChange(event); });
        });
    if (!notifications) {
        err << "tessell ports teach: camera plug-ins cannot be followed\n";
        return kPortsError;
    }
    // Kept to the end, so that Ctrl-C cannot stop the save half-way.
    const auto watch = platform::watchConsole([&loop, &ended](platform::ConsoleEnd end) {
        loop.post([&ended, end] {
            if (!ended)
                ended = end;
        });
    });
    const bool stopped = loop.runUntil(
        [&] { return ended || (options.count > 0 && teaching.learnedCount() >= options.count); },
        std::chrono::seconds(options.seconds));
    notifications.reset();
    teaching.setPortSetting(nullptr);

    if (!stopped)
        out << "Teaching stops: " << options.seconds << " s have passed." << std::endl;
    else if (ended == platform::ConsoleEnd::Interrupted)
        out << "Teaching stops: interrupted." << std::endl;
    else if (ended == platform::ConsoleEnd::InputEnded)
        out << "Teaching stops: end of input." << std::endl;
    const int learned = teaching.learnedCount();
    out << learned << (learned == 1 ? " new port" : " new ports") << " learned" << std::endl;

    // As OK closes Port Setting.
    const int status = reportSave(dialog.OnOK(store), store, err);
    if (status != kPortsDone)
        return status;
    printSlots(memory, store, out);
    if (!stopped && options.count > 0 && learned < options.count) {
        err << "tessell ports teach: " << learned << " of " << options.count
            << " new ports learned before the time limit\n";
        return kPortsTeachIncomplete;
    }
    return kPortsDone;
}

int parseTeach(const std::vector<std::string>& args, platform::PortStore& store, std::ostream& out,
               std::ostream& err) {
    TeachOptions options;
    for (std::size_t index = 1; index < args.size(); ++index) {
        const std::string& option = args[index];
        if (option != "--count" && option != "--timeout")
            return usageError(err, "unknown argument \"" + option + "\"");
        if (index + 1 == args.size())
            return usageError(err, option + " needs a value");
        const std::string& value = args[++index];
        const auto parsed = parseWholeNumber<long long>(value);
        if (option == "--count") {
            if (!parsed || *parsed < 1 || *parsed > kPortSlotCount)
                return usageError(err, "--count takes a number of ports from 1 to " +
                                           std::to_string(kPortSlotCount) + ", not \"" + value +
                                           "\"");
            options.count = static_cast<int>(*parsed);
        } else {
            if (!parsed || *parsed < 1 || *parsed > kTeachMaxSeconds)
                return usageError(err, "--timeout takes seconds from 1 to " +
                                           std::to_string(kTeachMaxSeconds) + ", not \"" + value +
                                           "\"");
            options.seconds = static_cast<int>(*parsed);
        }
    }
    return teachPorts(options, store, out, err);
}

} // namespace

std::string portsJson(const PortMemory& memory) {
    std::string text = "[";
    for (int index = 0; index < memory.UsedSlotCount(); ++index) {
        const PortSlot& slot = memory.slot(index);
        if (index > 0)
            text += ", ";
        // A hub name that is not UTF-8 still gives valid JSON.
        text += "{\"slot\": " + std::to_string(index + 1) + ", \"hub\": " + jsonString(slot.hub) +
                ", \"port\": " + std::to_string(slot.port) + "}";
    }
    return text + "]";
}

int runPortsCommand(const std::vector<std::string>& args, platform::PortStore& store,
                    std::ostream& out, std::ostream& err) {
    const std::string verb = args.empty() ? std::string() : args.front();
    if (verb == "--help" || verb == "-h") {
        out << kPortsUsage;
        return kPortsDone;
    }
    if (verb == "teach")
        return parseTeach(args, store, out, err);
    if (verb == "set")
        return setPorts({args.begin() + 1, args.end()}, store, out, err);
    if (verb == "clear") {
        if (args.size() > 1)
            return usageError(err, "clear takes no arguments");
        return clearPorts(store, out, err);
    }
    if (args.size() > 1 || (!args.empty() && verb != "--json"))
        return usageError(err, "unknown argument \"" + (verb == "--json" ? args[1] : verb) + "\"");
    PortMemory memory;
    MultiBurnState state = MultiBurnState::Learning;
    reportLoad(LoadPortMemory(store, memory, state), store, err);
    if (args.empty())
        printSlots(memory, store, out);
    else
        out << portsJson(memory) << "\n";
    return kPortsDone;
}

int runPortsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto store = platform::makeUserPortStore();
    const int status = runPortsCommand(args, *store, out, err);
    out.flush();
    return status;
}

} // namespace tessell
