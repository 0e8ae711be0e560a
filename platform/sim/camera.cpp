#include "platform/sim/camera.h"

#include "common/text_format.h"
#include "device/xu_protocol.h"

namespace tessell::sim {

namespace {

using platform::PropertyOp;

// Interface classes in the device paths of the two lists (capture, sensor camera).
constexpr const char* kVideoInterfaceClass = "{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
constexpr const char* kSensorInterfaceClass = "{24e552d7-6523-47f7-a647-d3465bf1f5ca}";

// Node types of a UVC camera's topology ahead of its Extension Unit.
const Guid kNodeCameraTerminal = *Guid::parse("{DFF229E6-F70F-11D0-B917-00A0C9223196}");
const Guid kNodeProcessingUnit = *Guid::parse("{DFF229E5-F70F-11D0-B917-00A0C9223196}");

// The seven-digit key of the instance id, which the identity matching looks
// for in the device path: unique per device (its position in the top bits),
// new when the device moves to another hub or port, as on the real system.
std::string instanceKey(std::size_t position, const std::string& hub, std::uint16_t port) {
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](unsigned char c) { hash = (hash ^ c) * 16777619u; };
    for (unsigned char c : hub)
        mix(c);
    mix('#');
    mix(static_cast<unsigned char>(port));
    mix(static_cast<unsigned char>(port >> 8));
    std::uint32_t key = static_cast<std::uint32_t>(position & 0xFF) << 20 | (hash & 0xFFFFF);
    // Never a piece of the interface-class text of a path, or the key would
    // match every device.
    for (;;) {
        const std::string text = formatText("%07x", static_cast<unsigned>(key));
        if (std::string_view(kVideoInterfaceClass).find(text) == std::string_view::npos &&
            std::string_view(kSensorInterfaceClass).find(text) == std::string_view::npos)
            return text;
        key = (key & 0xFF00000) | ((key + 1) & 0xFFFFF);
    }
}

SimUsbIdentity romIdentity(const RomIdentity& rom) {
    return {rom.vid, rom.pid, rom.bcd, rom.manufacturer, rom.product, rom.serial};
}

} // namespace

std::shared_ptr<SimCamera> SimCamera::create(std::size_t position, DeviceConfig config,
                                             std::shared_ptr<EventQueue> events,
                                             std::string& error) {
    const std::string where = "devices[" + std::to_string(position) + "]: ";
    std::shared_ptr<SimCamera> camera(
        new SimCamera(position, std::move(config), std::move(events)));
    std::string detail;
    camera->flash_ = FlashPart::open(camera->config_.flash, detail);
    if (!camera->flash_) {
        error = where + "flash: " + detail;
        return nullptr;
    }
    if (const auto& module = camera->config_.module) {
        camera->module_ = ModuleMemory::open(module->size, module->file, detail);
        if (!camera->module_) {
            error = where + detail;
            return nullptr;
        }
    }
    camera->chip_ =
        std::make_unique<Chip>(camera->config_.chipId.value_or(0), camera->config_.variant,
                               camera->family_, camera->config_.registers, *camera->flash_);
    camera->firmware_ =
        std::make_unique<XuFirmware>(camera->config_, camera->family_, *camera->chip_,
                                     *camera->flash_, camera->module_.get(), camera->faults_);
    if (!camera->config_.stateFile.empty())
        camera->stateFile_.emplace(camera->config_.stateFile);

    std::lock_guard lock(camera->requestMutex_);
    if (camera->config_.present)
        camera->arrive(false); // plugged in before the process started: no notification
    else {
        std::lock_guard bus(camera->busMutex_);
        camera->refreshNames();
    }
    camera->writeState();
    return camera;
}

SimCamera::SimCamera(std::size_t position, DeviceConfig config, std::shared_ptr<EventQueue> events)
    : position_(position), config_(std::move(config)),
      family_(config_.chipId ? chip::icTypeFromChip(*config_.chipId, config_.variant)
                             : std::nullopt),
      events_(std::move(events)), faults_(config_.faults) {
    view_.list = config_.list;
    view_.usb = config_.usb;
    view_.friendlyName = config_.friendlyName;
    view_.hub = config_.hub;
    view_.port = config_.port;
    if (config_.chipId && config_.xu != XuAnswer::None)
        view_.extensionCode =
            config_.xu == XuAnswer::Fallback ? XU_PROPSET_FALLBACK : XU_PROPSET_PRIMARY;
}

SimCamera::~SimCamera() = default;

BusView SimCamera::view() const {
    std::lock_guard lock(busMutex_);
    return view_;
}

bool SimCamera::reachable(std::uint64_t generation) const {
    std::lock_guard lock(busMutex_);
    return state_ == BusState::OnBus && view_.generation == generation;
}

std::uint32_t SimCamera::xuNode() const {
    return 2; // after the camera terminal and the processing unit
}

Status SimCamera::nodeCount(std::uint64_t generation, std::uint32_t& count) const {
    if (!reachable(generation))
        return status::kDeviceGone;
    count = config_.xu == XuAnswer::None ? xuNode() : xuNode() + 1;
    return status::kOk;
}

Status SimCamera::nodeType(std::uint64_t generation, std::uint32_t node, Guid& type) const {
    if (!reachable(generation))
        return status::kDeviceGone;
    if (node == 0)
        type = kNodeCameraTerminal;
    else if (node == 1)
        type = kNodeProcessingUnit;
    else if (node == xuNode() && config_.xu != XuAnswer::None)
        type = platform::kNodeTypeDevSpecific;
    else
        return status::kInvalidArgument;
    return status::kOk;
}

Status SimCamera::propertyRequest(std::uint64_t generation, const Guid& propertySet,
                                  std::uint32_t selector, PropertyOp op, std::uint32_t node,
                                  std::span<std::uint8_t> data, std::uint32_t& bytesReturned) {
    return serve(Route::Kernel, generation, &propertySet, node, selector, op, data, bytesReturned);
}

Status SimCamera::vendorRequest(std::uint64_t generation, std::uint32_t selector, PropertyOp op,
                                std::span<std::uint8_t> data, std::uint32_t& bytesReturned) {
    return serve(Route::Vendor, generation, nullptr, 0, selector, op, data, bytesReturned);
}

Status SimCamera::unitRequest(std::uint64_t generation, std::uint32_t selector, PropertyOp op,
                              std::span<std::uint8_t> data, std::uint32_t& bytesReturned) {
    return serve(Route::Unit, generation, nullptr, 0, selector, op, data, bytesReturned);
}

std::vector<ControlInfo> SimCamera::extensionControls() const {
    // The table depends on the station alone: no lock needed.
    if (!config_.chipId || config_.xu == XuAnswer::None)
        return {};
    return firmware_->controls();
}

std::uint64_t SimCamera::requestCount(std::uint32_t selector, PropertyOp op) const {
    std::lock_guard lock(requestMutex_);
    const auto found = requestCounts_.find({selector, op});
    return found == requestCounts_.end() ? 0 : found->second;
}

Status SimCamera::serve(Route route, std::uint64_t generation, const Guid* propertySet,
                        std::uint32_t node, std::uint32_t selector, PropertyOp op,
                        std::span<std::uint8_t> data, std::uint32_t& bytesReturned) {
    std::lock_guard lock(requestMutex_);
    if (!reachable(generation))
        return status::kDeviceGone;
    const bool inDownload = firmware_->inDownload();
    if (faults_.unplugBeforeRequest(inDownload)) {
        leave(Leaving::Unplugged);
        writeState();
        return status::kDeviceGone;
    }
    ++requests_;
    ++requestCounts_[{selector, op}];
    // The control transfer itself takes time on the bus.
    if (config_.request.count() > 0)
        clock().sleepFor(config_.request);
    const Status result =
        answer(route, propertySet, node, selector, op, data, bytesReturned, inDownload);
    // Both may fall on one request: the reset is counted, the unplug wins.
    const bool reset = firmware_->takeLeaveRequest();
    const bool unplug = faults_.unplugNow(inDownload);
    if (reset)
        ++resets_;
    if (unplug)
        leave(Leaving::Unplugged);
    else if (reset)
        leave(Leaving::Reset);
    writeState();
    return result;
}

Status SimCamera::answer(Route route, const Guid* propertySet, std::uint32_t node,
                         std::uint32_t selector, PropertyOp op, std::span<std::uint8_t> data,
                         std::uint32_t& bytesReturned, bool inDownload) {
    // A webcam of another make: its Extension Unit knows none of our controls.
    if (!config_.chipId)
        return route == Route::Kernel ? status::kSetNotFound : status::kFail;
    if (route == Route::Kernel) {
        if (config_.xu == XuAnswer::None || node != xuNode())
            return status::kSetNotFound;
        const Guid& answering =
            config_.xu == XuAnswer::Fallback ? XU_PROPSET_FALLBACK : XU_PROPSET_PRIMARY;
        if (*propertySet != answering)
            return status::kSetNotFound;
    } else if (config_.xu == XuAnswer::None) {
        return status::kNotFound; // no Extension Unit to talk to
    }

    if (const auto fault =
            faults_.onRequest(op, selector, firmware_->selectedRegister(), inDownload))
        return *fault;
    // The probe: one byte of the checksum control outside a download.
    const bool probe = selector == XU_DFU_CHECKSUM && op == PropertyOp::Get && !inDownload;
    if (probe && faults_.probeNotReady())
        return status::kNotReady;
    // A unit addressed by its id knows no checksum control either.
    if (probe && route != Route::Vendor && config_.xu == XuAnswer::NotFound)
        return status::kNotFound;
    return firmware_->request(selector, op, data, bytesReturned);
}

void SimCamera::leave(Leaving why) {
    std::string path;
    {
        std::lock_guard bus(busMutex_);
        if (state_ != BusState::OnBus)
            return;
        ++view_.generation;
        view_.onBus = false;
        path = view_.devicePath;
        if (why == Leaving::Reset && !faults_.noReturn()) {
            state_ = BusState::Returning;
            returnAt_ = clock().now() + config_.reenumerate;
        } else {
            state_ = BusState::Away;
        }
    }
    chip_->powerOff();
    firmware_->powerOn(); // whatever the firmware was doing is gone with the power
    events_->post({platform::HotplugEvent::Kind::Removal, path});
}

void SimCamera::arrive(bool notify) {
    chip_->powerOn();
    firmware_->powerOn();
    faults_.onArrival();
    // The camera enumerates with what its flash now holds.
    const SimUsbIdentity identity =
        family_ ? identityFromFlash(flash_->contents(), *family_, config_.rom)
                : romIdentity(config_.rom);
    std::string path;
    {
        std::lock_guard bus(busMutex_);
        view_.identity = identity;
        refreshNames();
        state_ = BusState::OnBus;
        view_.onBus = true;
        path = view_.devicePath;
    }
    if (notify) {
        ++arrivals_;
        events_->post({platform::HotplugEvent::Kind::Arrival, path});
    }
}

void SimCamera::refreshNames() {
    const auto& id = view_.identity;
    const char* interfaceClass = config_.list == platform::DeviceListKind::SensorCamera
                                     ? kSensorInterfaceClass
                                     : kVideoInterfaceClass;
    if (!config_.usb) {
        // A software camera: no USB path, no instance of the imaging class.
        view_.devicePath = formatText("\\\\?\\root#image#%04u#%s", static_cast<unsigned>(position_),
                                      interfaceClass);
        view_.instanceId = formatText("root\\image\\%04u", static_cast<unsigned>(position_));
        view_.hardwareId.clear();
        return;
    }
    const std::string key = instanceKey(position_, view_.hub, view_.port);
    const unsigned vid = id.vid, pid = id.pid, bcd = id.bcdDevice;
    view_.devicePath = formatText("\\\\?\\usb#vid_%04x&pid_%04x&mi_00#6&%s&0&0000#%s", vid, pid,
                                  key.c_str(), interfaceClass);
    view_.instanceId =
        formatText("usb\\vid_%04x&pid_%04x&mi_00\\6&%s&0&0000", vid, pid, key.c_str());
    view_.hardwareId = formatText("USB\\VID_%04X&PID_%04X&REV_%04X", vid, pid, bcd);
}

std::optional<Clock::TimePoint> SimCamera::returnTime() const {
    std::lock_guard lock(busMutex_);
    if (state_ != BusState::Returning)
        return std::nullopt;
    return returnAt_;
}

void SimCamera::returnIfDue() {
    // Peek first, so that a camera busy with a long request is not waited for.
    const auto due = returnTime();
    if (!due || clock().now() < *due)
        return;
    std::lock_guard lock(requestMutex_);
    {
        std::lock_guard bus(busMutex_);
        if (state_ != BusState::Returning || clock().now() < returnAt_)
            return;
    }
    arrive(true);
    writeState();
}

void SimCamera::applyStation(bool present, const std::string& hub, std::uint16_t port) {
    std::lock_guard lock(requestMutex_);
    BusState state;
    bool moved;
    {
        std::lock_guard bus(busMutex_);
        state = state_;
        moved = hub != view_.hub || port != view_.port;
    }
    auto relocate = [&] {
        std::lock_guard bus(busMutex_);
        view_.hub = hub;
        view_.port = port;
        refreshNames();
    };
    if (!present) {
        if (state == BusState::OnBus)
            leave(Leaving::Unplugged);
        {
            std::lock_guard bus(busMutex_);
            state_ = BusState::Away; // a pending return is called off
        }
        if (moved)
            relocate();
    } else if (state == BusState::OnBus) {
        if (moved) {
            leave(Leaving::Moved);
            relocate();
            arrive(true);
        }
    } else {
        if (moved)
            relocate();
        // Plugged in again (also after an unplug fault or a camera that did
        // not come back); a camera still re-enumerating keeps its own time.
        if (state == BusState::Away)
            arrive(true);
    }
    writeState();
}

void SimCamera::writeState() {
    if (!stateFile_)
        return;
    CameraState state;
    {
        std::lock_guard bus(busMutex_);
        state.present = state_ == BusState::OnBus;
    }
    state.download = firmware_->inDownload();
    state.led = chip_->led();
    state.resets = resets_;
    state.arrivals = arrivals_;
    state.requests = requests_;
    state.registers = chip_->visibleRegisters();
    state.flashStatus = flash_->statusRegister();
    stateFile_->write(state);
}

std::vector<std::uint8_t> SimCamera::flashContents() const {
    std::lock_guard lock(requestMutex_);
    const auto bytes = flash_->contents();
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> SimCamera::moduleContents() const {
    std::lock_guard lock(requestMutex_);
    if (!module_)
        return {};
    const auto bytes = module_->contents();
    return {bytes.begin(), bytes.end()};
}

} // namespace tessell::sim
