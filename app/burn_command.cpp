#include "app/burn_command.h"

#include "app/camera_services.h"
#include "app/paths.h"
#include "common/json_text.h"
#include "common/whole_number.h"
#include "platform/console_watch.h"
#include "platform/port_store.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>

namespace tessell {

namespace {

constexpr const char* kBurnUsageText = "usage: tessell burn --once [--json]\n"
                                       "       tessell burn [--json] [--cycles N]\n";
constexpr std::string_view kUnknownPort = "I don't know this port!";
constexpr std::string_view kNoCameraToBurn = "There is no camera, plug in or Re-Scan";
// The status of a camera left out for its port in the results.
constexpr std::string_view kPortNotTaught = "Port not taught";
// Every session is bounded; this only keeps a station whose cameras never
// report from waiting for ever.
constexpr Clock::Duration kBurnBudget = std::chrono::hours(1);
constexpr Clock::Duration kPollPeriod = std::chrono::milliseconds(250);

// The log's own line ends are "\r\n"; a console wants "\n".
std::string consoleText(std::string_view text) {
    std::string plain;
    for (const char c : text)
        if (c != '\r')
            plain += c;
    return plain;
}

int progressNumber(const std::string& text) {
    return std::atoi(text.c_str());
}

// The station on a console: log text as it grows, the rows as lines (or a
// live table on a terminal), questions answered No.
class ConsoleStationView final : public MultiBurnView {
public:
    ConsoleStationView(const BurnOptions& options, std::ostream& out, std::ostream& err)
        : options_(options), out_(out), err_(err) {}

    void attach(const Tessell_MultiDlg* dialog) { dialog_ = dialog; }
    const std::string& lastError() const { return lastError_; }
    void clearError() { lastError_.clear(); }

    void setCaption(std::string_view) override {}

    void showLog(std::string_view text) override {
        // The log only grows, except when a new run empties it.
        if (text.size() < shownLog_ || text.substr(0, shownLog_) != shownText_)
            shownLog_ = 0;
        const std::string_view added = text.substr(shownLog_);
        shownLog_ = text.size();
        shownText_ = std::string(text);
        if (added.empty())
            return;
        if (options_.json) {
            const std::string plain = consoleText(added);
            if (plain.find_first_not_of("\n") != std::string::npos)
                line("{\"log\": " + jsonString(plain) + "}");
            return;
        }
        eraseTable();
        const std::string plain = consoleText(added);
        out_ << plain << std::flush;
        atLineStart_ = plain.back() == '\n';
        drawTable();
    }

    void showCameraCount(std::string_view text) override {
        if (text == count_)
            return;
        count_ = std::string(text);
        if (options_.json)
            line("{\"cameras\": " + jsonString(count_) + "}");
        else if (!options_.terminal)
            line("cameras " + count_);
    }

    void showRow(int row, const SlotRow& shown) override {
        rows_.at(static_cast<std::size_t>(row)) = shown;
        if (shown.status.empty())
            return;
        const platform::UsbAddress address =
            dialog_ ? dialog_->rowAddress(row) : platform::UsbAddress{};
        if (options_.json) {
            line("{\"row\": " + std::to_string(row + 1) + ", \"hub\": " + jsonString(address.hub) +
                 ", \"port\": " + std::to_string(address.port) +
                 ", \"progress\": " + std::to_string(progressNumber(shown.progress)) +
                 ", \"status\": " + jsonString(shown.status) + "}");
        } else if (options_.terminal) {
            eraseTable();
            drawTable();
        } else {
            line(shown.number + " " + address.text() + " " + shown.progress + " " + shown.status);
        }
    }

    void setEnabled(MultiControl, bool) override {}

    void showError(std::string_view text, std::string_view caption) override {
        lastError_ = std::string(text);
        if (options_.json) {
            line("{\"error\": " + jsonString(text) + "}");
            return;
        }
        eraseTable();
        err_ << "tessell burn: " << caption << ": " << text << std::endl;
    }

    bool askAboutUnknownPort(const platform::UsbAddress& address) override {
        if (options_.json)
            line("{\"unknown_port\": " + jsonString(kUnknownPort) + ", \"hub\": " +
                 jsonString(address.hub) + ", \"port\": " + std::to_string(address.port) + "}");
        else
            line(std::string(kUnknownPort) + " " + address.text());
        return false;
    }

    bool runPortSetting(PortSettingHost&) override { return false; }

    // A line of its own on standard output.
    void line(const std::string& text) {
        eraseTable();
        // A log text without its line end ("Scanning...") runs on in the
        // log, not into the next line here.
        if (!atLineStart_)
            out_ << "\n";
        atLineStart_ = true;
        out_ << text << std::endl;
        drawTable();
    }

    // The table is drawn while a burn runs, and forgotten after it.
    void setTableShown(bool shown) {
        if (!options_.terminal || options_.json)
            return;
        // The table gives way to the result lines that follow it.
        if (!shown)
            eraseTable();
        tableOn_ = shown;
        if (shown)
            drawTable();
    }

private:
    void eraseTable() {
        if (tableLines_ == 0)
            return;
        err_ << "\x1b[" << tableLines_ << "F\x1b[J" << std::flush;
        tableLines_ = 0;
    }

    void drawTable() {
        if (!tableOn_)
            return;
        for (int index = 0; index < kSlotRowCount; ++index) {
            const SlotRow& row = rows_[static_cast<std::size_t>(index)];
            if (row.status.empty())
                continue;
            const platform::UsbAddress address =
                dialog_ ? dialog_->rowAddress(index) : platform::UsbAddress{};
            char text[160];
            std::snprintf(text, sizeof text, "%s  %-12s %-22s %s\n", row.number.c_str(),
                          address.text().c_str(), row.progress.c_str(), row.status.c_str());
            err_ << text;
            ++tableLines_;
        }
        err_ << std::flush;
    }

    const BurnOptions& options_;
    std::ostream& out_;
    std::ostream& err_;
    const Tessell_MultiDlg* dialog_ = nullptr;
    std::size_t shownLog_ = 0;
    std::string shownText_;
    std::string count_;
    std::string lastError_;
    std::array<SlotRow, kSlotRowCount> rows_;
    bool atLineStart_ = true;
    bool tableOn_ = false;
    int tableLines_ = 0;
};

std::string_view resultStatusText(const RowResult& row) {
    return row.portNotTaught ? kPortNotTaught : SlotStatusText(row.status);
}

// The rows of a cycle with those of the cameras left out for their ports, in
// row order: a script sees every camera that was attached.
std::vector<RowResult> withLeftOut(std::vector<RowResult> rows, const Tessell_MultiDlg& dialog) {
    for (RowResult& leftOut : dialog.leftOutResults())
        rows.push_back(std::move(leftOut));
    std::stable_sort(rows.begin(), rows.end(),
                     [](const RowResult& a, const RowResult& b) { return a.row < b.row; });
    return rows;
}

int cycleStatus(const std::vector<RowResult>& rows, bool portsLeftOut) {
    if (rows.empty())
        return kBurnNothingBurned;
    const bool allComplete = std::all_of(rows.begin(), rows.end(), [](const RowResult& row) {
        return row.status == slot::kComplete;
    });
    return allComplete && !portsLeftOut ? kBurnAllComplete : kBurnSomeFailed;
}

void printResults(const std::vector<RowResult>& rows, const BurnOptions& options,
                  ConsoleStationView& view) {
    if (options.json) {
        view.line(burnResultsJson(rows));
        return;
    }
    for (const RowResult& row : rows) {
        char text[64];
        std::snprintf(text, sizeof text, "%02d  slot %s  ", row.row,
                      row.slot ? (*row.slot < 9 ? "0" + std::to_string(*row.slot + 1)
                                                : std::to_string(*row.slot + 1))
                                     .c_str()
                               : "--");
        view.line(std::string(text) + row.address.text() + "  " + ProgressText(row.progress) +
                  "  " + std::string(resultStatusText(row)) + "  " + row.file);
    }
}

class Station {
public:
    Station(const BurnOptions& options, const MultiBurnServices& services, std::ostream& out,
            std::ostream& err)
        : options_(options), services_(services), err_(err), view_(options, out, err),
          loop_([this](int id) {
              if (dialog_)
                  dialog_->OnTimer(id);
          }) {}

    int run(const std::atomic<bool>* stopRequested) {
        Tessell_MultiDlg dialog(services_, loop_, view_);
        dialog_ = &dialog;
        view_.attach(&dialog);
        const int status = runWith(dialog, stopRequested);
        view_.attach(nullptr);
        dialog_ = nullptr;
        return status;
    }

private:
    int runWith(Tessell_MultiDlg& dialog, const std::atomic<bool>* stopRequested) {
        if (!dialog.OnInitDialog()) {
            err_ << "tessell burn: camera plug-ins cannot be followed\n";
            return kBurnUsage;
        }
        // The station scans when a cycle begins, not on the window's timer.
        loop_.stopTimer(kScanTimer);
        loop_.runPending();
        if (dialog.portMemory().UsedSlotCount() == 0) {
            err_ << "tessell burn: no port is remembered; teach them with `tessell ports teach` "
                    "or `tessell ports set`\n";
            return kBurnUsage;
        }
        if (dialog.expectedCount() < 1) {
            err_ << "tessell burn: NUM in the settings is 0: no camera would be burned\n";
            return kBurnUsage;
        }
        if (!dialog.CheckCommonImage())
            return kBurnUsage;
        if (options_.once)
            return cycle(dialog);

        const auto stopped = [stopRequested] { return stopRequested && *stopRequested; };
        int lastStatus = kBurnNothingBurned;
        // A camera that failed in any cycle fails the run, not only one of
        // the last cycle: a script must not read a pass over a failed camera.
        bool failedBefore = false;
        for (int cycles = 0; !stopped();) {
            say("Waiting for " + std::to_string(dialog.expectedCount()) +
                " cameras on the taught ports.");
            if (!waitUntil(
                    [&] { return stopped() || onTaughtPorts(dialog) >= dialog.expectedCount(); }))
                break;
            failedBefore = failedBefore || lastStatus == kBurnSomeFailed;
            lastStatus = cycle(dialog);
            if (options_.cycles > 0 && ++cycles >= options_.cycles)
                break;
            say("Please remove all cameras!");
            if (!waitUntil(
                    [&] { return stopped() || CountAttachedCameras(*services_.devices) == 0; }))
                break;
        }
        return failedBefore && lastStatus != kBurnUsage ? kBurnSomeFailed : lastStatus;
    }

    // One scan and burn of the cameras attached now.
    int cycle(Tessell_MultiDlg& dialog) {
        view_.clearError();
        dialog.ScanCameras(true);
        loop_.runPending();
        const bool portsLeftOut = !dialog.unknownPorts().empty();
        const std::vector<RowResult> ready = dialog.results();
        if (ready.empty()) {
            say(dialog.cameraCount() == 0 ? "No camera is attached."
                                          : "No camera on a taught port is ready to burn.");
            printResults(withLeftOut({}, dialog), options_, view_);
            return kBurnNothingBurned;
        }
        dialog.OnBurn();
        if (!dialog.burning()) {
            printResults(withLeftOut({}, dialog), options_, view_);
            return view_.lastError() == kNoCameraToBurn ? kBurnNothingBurned : kBurnUsage;
        }
        view_.setTableShown(true);
        const bool ended = loop_.runUntil([&] { return !dialog.burning(); }, kBurnBudget);
        view_.setTableShown(false);
        const std::vector<RowResult> rows = dialog.results();
        printResults(withLeftOut(rows, dialog), options_, view_);
        if (!ended) {
            err_ << "tessell burn: the cameras did not finish in time\n";
            return kBurnSomeFailed;
        }
        return cycleStatus(rows, portsLeftOut);
    }

    int onTaughtPorts(const Tessell_MultiDlg& dialog) {
        std::vector<platform::UsbDeviceInfo> devices;
        services_.usb->imagingDevices(devices);
        return static_cast<int>(std::count_if(devices.begin(), devices.end(), [&](const auto& d) {
            return dialog.portMemory().FindPortSlot(d.address.hub, d.address.port) != -1;
        }));
    }

    // Runs the station's loop until `done`; false when it ended because a
    // stop was asked for.
    bool waitUntil(const std::function<bool()>& done) {
        while (!done())
            loop_.runUntil(done, kPollPeriod);
        return !(stopNow_ && *stopNow_);
    }

    void say(const std::string& text) {
        if (options_.json)
            view_.line("{\"station\": " + jsonString(text) + "}");
        else
            view_.line(text);
    }

public:
    void setStopFlag(const std::atomic<bool>* stop) { stopNow_ = stop; }

private:
    const BurnOptions& options_;
    const MultiBurnServices& services_;
    std::ostream& err_;
    ConsoleStationView view_;
    DialogLoop loop_;
    Tessell_MultiDlg* dialog_ = nullptr;
    const std::atomic<bool>* stopNow_ = nullptr;
};

} // namespace

std::string burnResultsJson(const std::vector<RowResult>& rows) {
    std::string text = "{\"results\": [";
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const RowResult& row = rows[index];
        if (index > 0)
            text += ", ";
        text += "{\"row\": " + std::to_string(row.row) +
                ", \"slot\": " + (row.slot ? std::to_string(*row.slot + 1) : std::string("null")) +
                ", \"hub\": " + jsonString(row.address.hub) +
                ", \"port\": " + std::to_string(row.address.port) +
                ", \"file\": " + jsonString(row.file) +
                ", \"status\": " + jsonString(resultStatusText(row)) +
                ", \"progress\": " + std::to_string(row.progress) + "}";
    }
    return text + "]}";
}

MultiBurnServices processStationServices(const platform::CameraServices& cameras,
                                         platform::PortStore& store) {
    MultiBurnServices services;
    services.devices = cameras.devices;
    services.usb = cameras.usb;
    services.hotplug = cameras.hotplug;
    services.store = &store;
    services.programFolder = programFolder();
    return services;
}

int runBurnStation(const BurnOptions& options, const MultiBurnServices& services, std::ostream& out,
                   std::ostream& err, const std::atomic<bool>* stopRequested) {
    Station station(options, services, out, err);
    station.setStopFlag(stopRequested);
    return station.run(stopRequested);
}

int runBurnCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool terminal) {
    BurnOptions options;
    options.terminal = terminal;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (arg == "--help" || arg == "-h") {
            out << kBurnUsageText;
            return kBurnAllComplete;
        }
        if (arg == "--once") {
            options.once = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "-v") {
            // the trace; taken by the caller
        } else if (arg == "--cycles" && at + 1 < args.size()) {
            const std::optional<int> cycles = parseWholeNumber<int>(args[++at]);
            if (!cycles || *cycles < 1) {
                err << "tessell burn: --cycles takes a number of at least 1\n" << kBurnUsageText;
                return kBurnUsage;
            }
            options.cycles = *cycles;
        } else {
            err << "tessell burn: unknown argument \"" << arg << "\"\n" << kBurnUsageText;
            return kBurnUsage;
        }
    }
    std::string problem;
    const platform::CameraServices cameras = processCameraServices(problem);
    if (!cameras) {
        err << "tessell burn: " << problem << "\n";
        return kBurnUsage;
    }
    const auto store = platform::makeUserPortStore();
    MultiBurnServices services = processStationServices(cameras, *store);
    services.teachOnPlugIn = false;
    services.recordTool = record_tool::kBurn;

    // Ctrl-C or SIGTERM: the burns running finish (a half-written camera
    // is worse than a late end); the station loop then ends.
    std::atomic<bool> stop{false};
    const auto watch = platform::watchConsole([&stop](platform::ConsoleEnd end) {
        if (end == platform::ConsoleEnd::Interrupted)
            stop = true;
    });
    const int status = runBurnStation(options, services, out, err, &stop);
    out.flush();
    return status;
}

} // namespace tessell
