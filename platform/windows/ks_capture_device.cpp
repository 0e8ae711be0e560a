#include "platform/windows/ks_capture_device.h"

namespace tessell::platform::windows {

KsCaptureDevice::KsCaptureDevice(ComPtr<IUnknown> object, ComPtr<IMFMediaSource> source,
                                 std::unique_ptr<MfSession> mediaFoundation)
    : mediaFoundation_(std::move(mediaFoundation)), object_(std::move(object)),
      source_(std::move(source)) {
    const ComThread com;
    if (auto control = object_.query<IKsControl>(IID_IKsControl))
        control_.emplace(std::move(control));
    if (auto info = object_.query<IKsTopologyInfo>(kIidKsTopologyInfo))
        topology_.emplace(std::move(info));
    if (auto driver = object_.query<IVendorPropertyInterface>(kIidVendorPropertyInterface))
        vendor_.emplace(std::move(driver));
}

KsCaptureDevice::~KsCaptureDevice() {
    const ComThread com;
    vendor_.reset();
    topology_.reset();
    control_.reset();
    // A device source keeps its own worker resources until it is shut down.
    if (source_)
        source_->Shutdown();
    source_.reset();
    object_.reset();
    mediaFoundation_.reset();
}

} // namespace tessell::platform::windows
