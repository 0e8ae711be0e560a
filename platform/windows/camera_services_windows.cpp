// Placeholder until the DirectShow, device-setup and notification backends
// are composed here: the real cameras of a Windows machine are not served
// yet, so every command that needs them says so. Simulated stations
// (TESSELL_SIM) work, as everywhere.

#include "platform/camera_services.h"
#include "platform/frame_sources.h"

namespace tessell::platform {

namespace {

class NoFrameSources final : public preview::FrameSources {
public:
    bool supported() const override { return false; }
    std::vector<std::optional<std::string>> enumerate() override { return {}; }
    std::unique_ptr<preview::FrameSource> open(std::size_t) override { return nullptr; }
    std::vector<std::string> problems() const override {
        return {"cameras are not supported in this build yet"};
    }
};

} // namespace

CameraServices hostCameraServices(std::string& error) {
    error = "cameras are not supported in this build yet";
    return {};
}

std::unique_ptr<preview::FrameSources> hostFrameSources() {
    return std::make_unique<NoFrameSources>();
}

} // namespace tessell::platform
