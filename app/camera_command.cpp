#include "app/camera_command.h"

#include "app/camera_services.h"
#include "app/console_tool.h"
#include "app/download_checks.h"
#include "app/download_outcome.h"
#include "app/list_command.h"
#include "app/maintenance.h"
#include "app/paths.h"
#include "app/startup.h"
#include "app/tool_history.h"
#include "common/clock.h"
#include "common/json_text.h"
#include "common/trace.h"
#include "device/flash_parts.h"
#include "device/ic_type.h"
#include "device/usb_identity.h"
#include "download/burn_session.h"
#include "download/camera_flash.h"
#include "download/image_fit.h"
#include "download/serial_number.h"
#include "platform/instance_guard.h"
#include "station/download_job.h"
#include "station/settings.h"

#include <charconv>
#include <cstdio>
#include <istream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

namespace tessell {

namespace {

using Json = nlohmann::ordered_json;

constexpr auto kProgressPoll = std::chrono::milliseconds(100);

constexpr const char* kUsageText = "usage: tessell flash [--port HUB:PORT] [--yes] [--json] IMAGE\n"
                                   "       tessell dump  [--port HUB:PORT] [-o FILE] [--json]\n"
                                   "       tessell erase [--port HUB:PORT] [--json]\n"
                                   "       tessell led on|off [--port HUB:PORT] [--json]\n"
                                   "       tessell info  [--port HUB:PORT] [--json]\n";

struct Request {
    std::string verb;
    std::optional<platform::UsbAddress> port;
    bool json = false;
    bool yes = false;
    std::string image;                     // flash
    std::string output = kDefaultDumpName; // dump
    std::optional<bool> ledOn;             // led
};

// The one result a command ends with: on standard output as JSON with
// --json, otherwise its error (if any) on standard error.
class CommandResult {
public:
    CommandResult(const Request& request, std::ostream& out, std::ostream& err)
        : request_(request), out_(out), err_(err) {
        document_["command"] = request.verb;
        document_["hub"] = nullptr;
        document_["port"] = nullptr;
        document_["ok"] = false;
        document_["exitCode"] = kCameraJobUsage;
        document_["error"] = nullptr;
    }

    void camera(const platform::UsbAddress& address) {
        document_["hub"] = address.hub;
        document_["port"] = address.port;
    }
    Json& operator[](const char* key) { return document_[key]; }

    int end(int status, const std::string& error = {}) {
        document_["ok"] = status == kCameraJobDone;
        document_["exitCode"] = status;
        if (!error.empty())
            document_["error"] = error;
        if (request_.json)
            out_ << jsonText(document_, 2) << "\n" << std::flush;
        else if (!error.empty())
            err_ << "tessell " << request_.verb << ": " << error << "\n" << std::flush;
        return status;
    }

private:
    const Request& request_;
    std::ostream& out_;
    std::ostream& err_;
    Json document_;
};

std::optional<platform::UsbAddress> parsePort(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    const std::string digits = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value < 1 || value > 65535)
        return std::nullopt;
    return platform::UsbAddress{text.substr(0, colon), static_cast<std::uint16_t>(value)};
}

// The words after the verb; the usage problem, or empty.
std::string parse(const std::vector<std::string>& args, Request& request) {
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--json") {
            request.json = true;
        } else if (arg == "--yes" || arg == "-y") {
            request.yes = true;
        } else if (arg == "--port") {
            if (!hasValue)
                return "--port needs HUB:PORT";
            request.port = parsePort(args[++i]);
            if (!request.port)
                return "\"" + args[i] + "\" is not HUB:PORT (a hub name, a port from 1 to 65535)";
        } else if ((arg == "-o" || arg == "--output") && request.verb == "dump") {
            if (!hasValue)
                return arg + " needs a file name";
            request.output = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option \"" + arg + "\"";
        } else {
            operands.push_back(arg);
        }
    }
    if (request.verb == "flash") {
        if (operands.size() != 1)
            return "flash needs exactly one IMAGE";
        request.image = operands[0];
    } else if (request.verb == "led") {
        if (operands.size() != 1 || (operands[0] != "on" && operands[0] != "off"))
            return "led needs on or off";
        request.ledOn = operands[0] == "on";
    } else if (!operands.empty()) {
        return "unexpected argument \"" + operands[0] + "\"";
    }
    return {};
}

// The port of the one camera attached, when --port was left out.
int onlyCamera(const platform::CameraServices& services, platform::UsbAddress& address,
               std::string& problem) {
    std::vector<ListedCamera> cameras;
    for (auto& camera : listCameras(services))
        // Only the video-input list can be opened by port.
        if (camera.list == "video" && camera.port != 0)
            cameras.push_back(std::move(camera));
    if (cameras.empty()) {
        problem = "no camera found";
        return kCameraJobNoCamera;
    }
    if (cameras.size() > 1) {
        problem = std::to_string(cameras.size()) + " cameras are attached (";
        for (std::size_t i = 0; i < cameras.size(); ++i)
            problem += (i ? ", " : "") + cameras[i].hub + ":" + std::to_string(cameras[i].port);
        problem += "); choose one with --port HUB:PORT";
        return kCameraJobUsage;
    }
    address = {cameras[0].hub, static_cast<std::uint16_t>(cameras[0].port)};
    return kCameraJobDone;
}

// The download's texts, gathered from the worker's thread.
class CollectingObserver final : public BurnObserver {
public:
    void appendLog(std::string_view text) override {
        const std::lock_guard lock(mutex_);
        log_ += text;
    }
    void burnLog(std::string_view) override {}
    void showMessage(std::string_view text) override {
        const std::lock_guard lock(mutex_);
        log_ += text;
        if (!text.empty() && text.back() != '\n')
            log_ += "\r\n";
    }
    std::string log() const {
        const std::lock_guard lock(mutex_);
        return log_;
    }

private:
    mutable std::mutex mutex_;
    std::string log_;
};

// Whether the operator wants an image that seems to be for another chip
// written: --yes says so; a person at a terminal is asked; anyone else is
// answered No.
// What the command says of a download that did not pass.
std::string downloadFailureText(const Result& outcome) {
    return "the download failed: " + outcome.reason();
}

bool writeForeignImage(const Request& request, bool terminal, std::istream& in, std::ostream& err) {
    if (request.yes)
        return true;
    if (!terminal || request.json)
        return false;
    err << "The image seems to be for another chip than the camera's. Write it anyway? [y/N] "
        << std::flush;
    std::string answer;
    std::getline(in, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

int runFlash(const Request& request, const platform::CameraServices& services,
             const ToolSettings& settings, SelectedCamera camera, CommandResult& result,
             std::ostream& out, std::ostream& err, std::istream& in, bool terminal) {
    result["image"] = request.image;
    result["result"] = nullptr;
    result["log"] = "";
    FirmwareImage image;
    FirmwareImage::LoadContext context;
    context.camera = camera.icType;
    context.showFirmwareVersion = settings.showFWVer == 1;
    std::vector<FirmwareImage::LogLine> lines;
    if (!image.load(request.image, context, lines))
        return result.end(kCameraJobFailed,
                          "the image \"" + request.image + "\" could not be loaded");
    if (!imageFitsChip(image, camera.icType) && !writeForeignImage(request, terminal, in, err))
        return result.end(kCameraJobFailed,
                          "the image seems to be for another chip than the camera's (" +
                              chipText(camera.icType) + "); not written (--yes writes it anyway)");
    // A download would fight a stream another program is reading.
    std::uint8_t streaming = 0;
    camera.link->ReadRegister(kStreamingRegister, streaming);
    if (cameraStreaming(streaming))
        return result.end(kCameraJobFailed, "the camera is streaming; stop its preview first");

    const auto serials = stationSerialNumbers(settings);
    const JobServices jobServices{services.devices, services.usb, temporaryFolder(), serials.get()};
    CollectingObserver observer;
    ConsoleView view(out, err, false, terminal && !request.json);
    const auto show = [&] {
        if (!request.json)
            view.showLog(observer.log());
    };
    std::string log = downloadStartTexts(downloadKindOf(settings)).logLine;
    observer.appendLog(log);
    StationHistory history(historySettings(settings, programFolder()),
                           [&err](std::string_view line) {
                               err << "tessell flash: " << line << "\n" << std::flush;
                           });
    BurnRecording recording;
    if (history.sink()) {
        recording.sink = history.sink();
        recording.fields = history.fields(record_tool::kFlash);
        recording.fields.imageName = recordedImageName(request.image);
        recording.describeOutcome = [](const Result& outcome, BurnRecord& record) {
            record.exitCode = outcome.ok() ? kCameraJobDone : kCameraJobFailed;
            if (!outcome.ok())
                record.error = downloadFailureText(outcome);
        };
    }
    BurnSession session(assembleDownloadJob(settings, jobServices, std::move(camera), image),
                        observer, std::move(recording));
    session.start();
    while (!session.finished()) {
        show();
        view.setProgress(session.progress());
        clock().sleepFor(kProgressPoll);
    }
    session.join();
    const DownloadOutcome outcome = downloadOutcome(settings, session.passed());
    observer.appendLog(outcome.logLine);
    if (session.passed())
        view.setProgress(100);
    show();
    view.endProcess(outcome.exitCode);
    result["result"] = outcome.resultText;
    result["log"] = observer.log();
    if (!session.passed())
        return result.end(kCameraJobFailed, downloadFailureText(session.outcome()));
    return result.end(kCameraJobDone);
}

int runInfo(SelectedCamera& camera, const UsbIdentity& identity, CommandResult& result,
            std::ostream& out, bool json) {
    CameraLink& link = *camera.link;
    Json info;
    info["friendlyName"] = identity.friendlyName;
    info["icType"] = std::string(1, chip::letter(camera.icType));
    info["chipName"] = std::string(chip::icTypeName(camera.icType));
    std::uint8_t chipId = 0;
    info["chipId"] =
        link.ReadRegister(chip::kChipIdRegister, chipId) == status::kOk ? Json(chipId) : Json();
    info["vid"] = identity.vid;
    info["pid"] = identity.pid;
    info["bcdDevice"] = identity.bcdDevice;
    info["manufacturer"] = identity.manufacturer;
    info["serial"] = identity.serialNumber;
    FlashCode code = flash::kUnknown;
    const bool identified = link.IdentifyFlash(code) == status::kOk && code != flash::kUnknown;
    const auto* part = identified ? flash::findPartName(code) : nullptr;
    info["flashCode"] = identified ? Json(code) : Json();
    info["flashName"] = part ? std::string(part->name) : std::string();
    info["flashSize"] = identified ? Json(flash::defaultPartSize(code)) : Json();
    // The version of the image the camera runs, as the window shows it.
    const CameraIdentityDisplay display = cameraIdentityDisplay(
        link, camera.icType, identity.vid, identity.pid, identity.bcdDevice, false);
    info["firmwareVersion"] = display.bcdDeviceText;
    info["typeNumber"] = display.typeNumberText.empty() ? Json() : Json(display.typeNumberText);
    if (!json) {
        for (const auto& [key, value] : info.items())
            out << key << ": " << (value.is_string() ? value.get<std::string>() : jsonText(value))
                << "\n";
        out << std::flush;
    }
    result["info"] = std::move(info);
    return result.end(kCameraJobDone);
}

int runOnCamera(const Request& request, std::ostream& out, std::ostream& err, std::istream& in,
                bool terminal, CommandResult& result) {
    std::string error;
    const platform::CameraServices services = processCameraServices(error);
    if (!services)
        return result.end(kCameraJobUsage, error);

    platform::UsbAddress address;
    if (request.port) {
        address = *request.port;
    } else if (const int found = onlyCamera(services, address, error); found != kCameraJobDone) {
        return result.end(found, error);
    }
    result.camera(address);

    auto link = std::make_unique<CameraLink>(*services.devices);
    if (const Result opened = OpenCameraAt(*link, *services.usb, chip::kAnyFamily, address);
        !opened.ok()) {
        trace::writef("%s", opened.reason().c_str());
        return result.end(kCameraJobNoCamera, "no camera on port " + address.text());
    }
    UsbIdentity identity = GetUsbIdentity(*services.usb, *link).value_or(UsbIdentity{});
    // The camera was opened on this port: its download finds it there again.
    identity.address = address;

    // What a job does with the settings follows the settings file of the
    // program folder, as in the window.
    ToolSettingsInput input;
    input.file = ChooseSettingsFile(programFolder());
    input.programFolder = programFolder();
    const ToolSettings settings = ReadToolSettings(input).settings;
    SelectedCamera camera = selectedCamera(std::move(link), settings, identity);

    if (request.verb == "flash")
        return runFlash(request, services, settings, std::move(camera), result, out, err, in,
                        terminal);
    if (request.verb == "info")
        return runInfo(camera, identity, result, out, request.json);
    if (request.verb == "dump") {
        result["file"] = request.output;
        if (const Result dumped = dumpFlashToFile(*camera.link, camera.familyIndex, request.output);
            !dumped.ok())
            return result.end(kCameraJobFailed,
                              "dump to \"" + request.output + "\": " + dumped.reason());
        result["bytes"] = kDumpSize;
        if (!request.json)
            out << "dumped " << kDumpSize << " bytes of the flash of " << address.text() << " to "
                << request.output << "\n";
        return result.end(kCameraJobDone);
    }
    if (request.verb == "erase") {
        if (const Result erased = eraseFlashAndReset(*camera.link, camera.familyIndex);
            !erased.ok())
            return result.end(kCameraJobFailed,
                              "the camera refused to erase its flash (" + erased.reason() + ")");
        if (!request.json)
            out << "erased the flash of " << address.text() << "\n";
        return result.end(kCameraJobDone);
    }
    // led
    result["led"] = *request.ledOn ? "on" : "off";
    if (const Result switched = switchLed(*camera.link, *request.ledOn); !switched.ok())
        return result.end(kCameraJobFailed,
                          "the camera refused the LED registers (" + switched.reason() + ")");
    return result.end(kCameraJobDone);
}

} // namespace

bool isCameraCommand(std::string_view word) {
    return word == "flash" || word == "dump" || word == "erase" || word == "led" || word == "info";
}

int runCameraCommand(std::string_view verb, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err, std::istream& in, bool terminal) {
    Request request;
    request.verb = std::string(verb);
    for (const auto& arg : args)
        if (arg == "--help" || arg == "-h") {
            out << kUsageText;
            return kCameraJobDone;
        }
    // --json is known before any problem, so that every outcome is one object.
    for (const auto& arg : args)
        request.json = request.json || arg == "--json";
    CommandResult result(request, out, err);
    if (const std::string problem = parse(args, request); !problem.empty()) {
        if (!request.json)
            err << kUsageText;
        return result.end(kCameraJobUsage, problem);
    }

    // Every command talks to the camera through the chip's serial port, which
    // would disturb a download another copy is running: all take the
    // single-instance lock and refuse while another copy holds it.
    const auto guard = platform::makeInstanceGuard(runtimeFolder(), kInstanceMutexName);
    const auto claim = guard->acquire();
    if (claim.status != platform::InstanceStatus::Acquired)
        return result.end(kCameraJobUsage,
                          claim.status == platform::InstanceStatus::HeldElsewhere
                              ? "another copy of the tool is running; not touching a camera, "
                                "so as not to disturb its cameras"
                              : "the single-instance lock cannot be taken");
    return runOnCamera(request, out, err, in, terminal, result);
}

} // namespace tessell
