#include "app/entry.h"

#include "app/burn_command.h"
#include "app/camera_command.h"
#include "app/camera_services.h"
#include "app/console_tool.h"
#include "app/exit_codes.h"
#include "app/history_command.h"
#include "app/line_command.h"
#include "app/list_command.h"
#include "app/paths.h"
#include "app/ports_command.h"
#include "app/query_service.h"
#include "app/settings_command.h"
#include "app/snapshot_command.h"
#include "app/startup.h"
#include "app/trace_output.h"
#include "app/window_runner.h"
#include "logs/log_files.h"
#include "platform/instance_guard.h"
#include "platform/port_store.h"
#include "platform/query_socket.h"
#include "platform/system.h"
#include "platform/terminal.h"
#include "station/private_profile.h"
#include "station/settings.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

namespace {

constexpr const char* kToolUsage =
    "Usage: tessell [options]            download firmware into a camera\n"
    "       tessell settings [--pid ID] [--json]\n"
    "                                    print the effective settings as JSON\n"
    "       tessell list [--json] [-v]   list the cameras the tool finds (exit 0;\n"
    "                                    1 with no camera, 2 on error)\n"
    "       tessell snapshot [--camera N] [--frames N] [--out FILE] [-v]\n"
    "                                    stream --frames pictures (10) from the camera\n"
    "                                    at list position --camera (0) and write the\n"
    "                                    last one to FILE as PPM (exit 0; 1 with no\n"
    "                                    such camera or fewer frames, 2 on error)\n"
    "       tessell ports [--json]       print the hub ports remembered for\n"
    "                                    multi-camera burning\n"
    "       tessell ports teach [--count N] [--timeout SECONDS]\n"
    "                                    remember the ports cameras are plugged into,\n"
    "                                    until N new ones, Ctrl-C or end of input\n"
    "                                    (at most SECONDS, default 600)\n"
    "       tessell ports set HUB:PORT...  remember these ports, slot 01 first\n"
    "       tessell ports clear          forget every remembered port\n"
    "                                    (ports: exit 0; 1 when they cannot be saved,\n"
    "                                    2 on error, 3 when teach ran out of time)\n"
    "       tessell burn --once [--json] burn every camera on a taught port now\n"
    "       tessell burn [--json] [--cycles N]\n"
    "                                    the station loop: wait for NUM cameras on\n"
    "                                    taught ports, burn them, wait until they\n"
    "                                    are removed, again, until Ctrl-C\n"
    "                                    (burn: exit 0 all Complete; 1 a camera in\n"
    "                                    Error or on an unknown port; 2 on error;\n"
    "                                    3 nothing burned)\n"
    "       tessell line init            create or upgrade the line database's schema\n"
    "       tessell line status [--json] the stations of the line and its counters\n"
    "       tessell serials [--json] [--resolve]\n"
    "                                    serial-number counters, reservations in\n"
    "                                    flight and void numbers of the line;\n"
    "                                    --resolve ends this station's in flight as\n"
    "                                    void (line: exit 0; 1 database failed; 2 on\n"
    "                                    error or without [LINE] Database=)\n"
    "       tessell flash [--port HUB:PORT] [--yes] [--json] IMAGE\n"
    "       tessell dump [--port HUB:PORT] [-o FILE] [--json]\n"
    "       tessell erase [--port HUB:PORT] [--json]\n"
    "       tessell led on|off [--port HUB:PORT] [--json]\n"
    "       tessell info [--port HUB:PORT] [--json]\n"
    "                                    one job on the camera at USB port HUB:PORT\n"
    "                                    (--port may be left out with one camera):\n"
    "                                    download IMAGE, dump the flash's first 64 KiB\n"
    "                                    to FILE (DUMP_BIN.bin), erase it, switch the\n"
    "                                    LED, or show chip, flash and firmware version;\n"
    "                                    --yes writes an image that seems to be for\n"
    "                                    another chip; --json prints one result object\n"
    "                                    (exit 0 done, 1 the job failed, 2 usage, several\n"
    "                                    cameras or another copy running, 3 no camera)\n"
    "       tessell history [--serial SN] [--port HUB:PORT] [--since TIME]\n"
    "                       [--until TIME] [--result pass|fail|aborted]\n"
    "                       [--image SHA256-PREFIX] [--limit N] [--json|--csv|--summary]\n"
    "                                    the station's burn records (history.db, or\n"
    "                                    [LINE] History= of the settings), newest\n"
    "                                    first: a table, JSON Lines, CSV, or counts\n"
    "                                    per day with the median burn time; TIME is\n"
    "                                    UTC, 2026-12-09 or 2026-12-09T14:30:05Z\n"
    "                                    (exit 0 records, 1 none, 2 bad option or\n"
    "                                    unreadable history)\n"
    "\n"
    "Options:\n"
    "  --help       show this text and exit\n"
    "  --version    show the version and exit\n"
    "  -f [PATH]    run unattended: download PATH (or, with no PATH, the settings'\n"
    "               image) and exit with the result; -s and -S do the same. An\n"
    "               empty PATH writes nothing and exits with 10\n"
    "  -silent      run unattended with no window (also -Silent, -unattended,\n"
    "               -Unattended)\n"
    "  -m           when unattended, still show result and error messages\n"
    "  -w           when unattended, show the AC-power warning before giving up\n"
    "  -y           when unattended, answer Yes to the question whether an image\n"
    "               that seems to be for another chip is to be written anyway\n"
    "               (without it the answer is No and the run ends with 5)\n"
    "  -wait SECONDS  when unattended and no camera is plugged in, wait this long\n"
    "               for one (default 60, at most 3600; 0 ends at once)\n"
    "Other options are ignored, each named on standard error.\n"
    "  -forcerestart  accepted for older station scripts; changes nothing\n"
    "  -v           write the trace (step-by-step diagnostics of the camera and\n"
    "               download code) to standard error; also after list and snapshot\n"
    "\n"
    "Environment:\n"
    "  TESSELL_TRACE=FILE  append the trace to FILE (with or without -v)\n"
    "  TESSELL_HOME=DIR    the program folder (below) instead of the one the\n"
    "                      tool finds\n"
    "  TESSELL_SIM=FILE    use the simulated cameras of a station file\n"
    "  XDG_DATA_HOME=DIR   where the station folder is made (default\n"
    "                      ~/.local/share)\n"
    "\n"
    "Files:\n"
    "  The program folder holds the settings file (setting.ini), pid.ini, the\n"
    "  images and the result files (Result.txt, CmdModeLog.log, burn_log.txt,\n"
    "  burn_result.txt); `tessell settings` names it. It is $TESSELL_HOME when\n"
    "  set; else the executable's folder when it holds a settings file or the\n"
    "  user may write in it (a station's own folder); else, as for the program\n"
    "  installed in /usr/bin, the station folder $XDG_DATA_HOME/tessell, made\n"
    "  on first use with a setting.ini to edit copied from\n"
    "  /usr/share/tessell/setting.ini. On Windows it is always the\n"
    "  executable's folder unless TESSELL_HOME is set.\n"
    "\n"
    "Exit status: 0 passed, 1 rework failed, 2 download failed, 3 download with\n"
    "serial-number change failed, 4 wrong camera, 5 no image or image refused,\n"
    "10 image load failed, 38 ended while a download was running, 99 nothing\n"
    "done (also when another copy is running), 255 no AC power or camera\n"
    "refused by the identity check. A run that stops before downloading with\n"
    "no code of its own (no camera, camera streaming, camera's USB identity\n"
    "unreadable) ends with the code stored so far: 99, or 10 after a failed\n"
    "image load.\n";

// Starts the trace once this copy holds the single-instance lock: a second
// copy ends without a word and leaves the trace file to the first.
void startProcessTrace(bool toStandardError) {
    startTrace(toStandardError, traceFile(), std::cerr);
}

// Listing reads registers and the flash identification through the chip's
// serial port, and a snapshot streams from a camera; either would disturb a
// download another copy is running. Both take the same single-instance lock,
// and refuse while another copy holds it. `doing` names the refused work.
int runGuarded(const std::string& command, const std::string& doing, int errorStatus,
               bool traceOnError, const std::function<int()>& run) {
    const auto guard = platform::makeInstanceGuard(runtimeFolder(), kInstanceMutexName);
    const auto claim = guard->acquire();
    if (claim.status != platform::InstanceStatus::Acquired) {
        const std::string text =
            claim.status == platform::InstanceStatus::HeldElsewhere
                ? "tessell " + command + ": another copy of the tool is running; not " + doing +
                      ", so as not to disturb its cameras\n"
                : "tessell " + command + ": the single-instance lock cannot be taken\n";
        std::fputs(text.c_str(), stderr);
        return errorStatus;
    }
    startProcessTrace(traceOnError);
    return run();
}

// The single-camera tool. Unattended runs need no window. `traceOnError`: the
// trace shares standard error, where a progress bar redrawing its line would
// cut into the trace's lines.
int runSingleCamera(const StartupFlags& flags, int commandLineModeSetting, WindowRunner* windows,
                    bool traceOnError) {
    const bool windowMode = !flags.cmdLineMode && commandLineModeSetting != 1;
    if (windowMode && !windows) {
        std::fputs("tessell: the single-camera window is not available in this build; run "
                   "unattended with -f PATH, -s PATH or -silent\n",
                   stderr);
        return processStatus(kExitNothingFinished);
    }
    std::string error;
    const platform::CameraServices cameras = processCameraServices(error);
    const auto power = processPowerStatus();
    DialogServices services;
    services.devices = cameras.devices;
    services.usb = cameras.usb;
    services.hotplug = cameras.hotplug;
    services.power = power.get();
    services.programFolder = programFolder();
    services.temporaryFolder = temporaryFolder();
    services.out = &std::cout;
    services.err = &std::cerr;
    // Other processes ask the running tool their questions on a socket in the
    // runtime folder; the single-instance lock makes its name the tool's alone.
    const std::filesystem::path socketPath = runtimeFolder() / kQuerySocketName;
    const QueryService::OpenServer queries = [&socketPath](platform::QueryServer::Handler handler,
                                                           std::string& problem) {
        return platform::serveQueries(socketPath, std::move(handler), problem);
    };
    if (windowMode) {
        const int exitCode = windows->runSingleCamera(services, flags, queries);
        std::cout.flush();
        return processStatus(exitCode);
    }
    const bool progressBar = !traceOnError && platform::isTerminal(platform::StandardStream::Error);
    const int exitCode =
        runCommandLineTool(services, flags, std::cout, std::cerr, progressBar, queries);
    std::cout.flush();
    return processStatus(exitCode);
}

// The multi-camera station in its window, until the operator closes it.
int runMultiCamera(WindowRunner* windows) {
    if (!windows) {
        std::fputs("tessell: the multi-camera window is not available in this build; `tessell "
                   "burn` runs the station without one\n",
                   stderr);
        return processStatus(kExitNothingFinished);
    }
    std::string error;
    const platform::CameraServices cameras = processCameraServices(error);
    const auto store = platform::makeUserPortStore();
    const int status = windows->runMultiCamera(processStationServices(cameras, *store));
    std::cout.flush();
    return processStatus(status);
}

// A run that ends before the tool starts. Unattended, it still leaves its
// result: a script that reads only Result.txt must not find the previous
// camera's pass there.
int stopBeforeTheTool(const StartupFlags& flags, int exitCode) {
    if (flags.cmdLineMode) {
        LogSettings log;
        log.cmdLineMode = true;
        log.programFolder = programFolder();
        log.problems = std::make_shared<WriteProblems>(
            [](std::string_view line) { std::cerr << line << std::flush; });
        LogFiles(std::move(log)).WriteTestResult(false);
    }
    return processStatus(exitCode);
}

// The default path: one guarded copy of the single- or multi-camera tool.
int runChosenTool(const std::vector<std::string>& arguments, WindowRunner* windows,
                  bool traceOnError) {
    // Held until the tool returns, that is for the life of the process.
    const auto guard = platform::makeInstanceGuard(runtimeFolder(), kInstanceMutexName);
    // With no settings file every value is its default, so MultipleMode is 0.
    StartupSettings settings;
    int commandLineModeSetting = 0;
    const SettingsFileChoice choice = ChooseSettingsFile(programFolder());
    const PrivateProfile file = PrivateProfile::load(choice.path);
    const SettingsFileCheck check = checkSettingsFile(choice, file);
    if (choice.settingsIndex && check.stop.empty()) {
        settings.multipleMode = file.getInt("SETTING", "MultipleMode", 0);
        commandLineModeSetting = file.getInt("SETTING", "CmdLineMode", 0);
    }
    const StartupPlan plan = startUp(*guard, settings, arguments);
    for (const std::string& note : plan.notes)
        std::fprintf(stderr, "%s\n", note.c_str());
    if (plan.tool != ToolKind::None) {
        // A settings file that is there but cannot be read would run the
        // station on every default: no serial numbers, no camera check.
        if (!check.stop.empty()) {
            std::fprintf(stderr, "tessell: %s; not running\n", check.stop.c_str());
            return stopBeforeTheTool(plan.flags, kExitNothingFinished);
        }
        if (!check.warning.empty())
            std::fprintf(stderr, "tessell: warning: %s\n", check.warning.c_str());
        startProcessTrace(traceOnError);
        // Opened before any tool runs: a simulated station sets the clock's
        // time scale, and a broken station file stops the tool before it
        // could fall back on real devices.
        std::string error;
        if (!processCameraServices(error)) {
            std::fprintf(stderr, "tessell: %s\n", error.c_str());
            return stopBeforeTheTool(plan.flags, kExitNothingFinished);
        }
    }

    switch (plan.tool) {
    case ToolKind::None:
        if (!plan.diagnostic.empty())
            std::fprintf(stderr, "%s\n", plan.diagnostic.c_str());
        return stopBeforeTheTool(plan.flags, plan.exitCode);
    case ToolKind::SingleCamera:
        return runSingleCamera(plan.flags, commandLineModeSetting, windows, traceOnError);
    case ToolKind::MultiCamera:
        return runMultiCamera(windows);
    }
    return processStatus(kExitNothingFinished);
}

} // namespace

int runTool(int argc, char** argv, WindowRunner* windows) {
    const std::vector<std::string> line = platform::commandLineArguments(argc, argv);
    const std::vector<std::string> arguments(line.begin() + std::min<std::size_t>(line.size(), 1),
                                             line.end());
    const std::string_view first =
        arguments.empty() ? std::string_view() : std::string_view(arguments.front());
    if (first == "--help" || first == "-h") {
        std::fputs(kToolUsage, stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("tessell %s\n", TESSELL_VERSION);
        return 0;
    }
    const std::vector<std::string> rest(
        arguments.begin() + std::min<std::size_t>(arguments.size(), 1), arguments.end());
    if (first == "settings")
        return runSettingsCommand(rest, std::cout, std::cerr);
    if (first == "line")
        return runLineCommand(rest, std::cout, std::cerr);
    if (first == "serials")
        return runSerialsCommand(rest, std::cout, std::cerr);
    if (first == "history")
        return runHistoryCommand(rest, std::cout, std::cerr);

    // What follows works with cameras, and traces what it does. Sub-commands
    // are dispatched here, before the tool's own single-instance handling.
    const bool traceOnError = asksForTrace(arguments);
    if (first == "list")
        return runGuarded("list", "listing", kListError, traceOnError,
                          [&rest] { return runListCommand(rest, std::cout, std::cerr); });
    if (first == "snapshot")
        return runGuarded("snapshot", "streaming", kSnapshotError, traceOnError, [&rest] {
            const int status = runSnapshotCommand(rest, std::cout, std::cerr);
            std::cout.flush();
            return status;
        });
    if (first == "ports")
        return runGuarded("ports", "touching the port memory", kPortsError, traceOnError,
                          [&rest] { return runPortsCommand(rest, std::cout, std::cerr); });
    if (first == "burn")
        return runGuarded("burn", "burning", kBurnUsage, traceOnError, [&rest] {
            return runBurnCommand(rest, std::cout, std::cerr,
                                  platform::isTerminal(platform::StandardStream::Error));
        });
    if (isCameraCommand(first)) {
        startProcessTrace(traceOnError);
        const int status = runCameraCommand(first, rest, std::cout, std::cerr, std::cin,
                                            platform::isTerminal(platform::StandardStream::Error));
        std::cout.flush();
        return status;
    }
    return runChosenTool(arguments, windows, traceOnError);
}

} // namespace tessell
