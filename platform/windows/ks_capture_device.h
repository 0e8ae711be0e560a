#pragma once

// One bound capture device on Windows: the capture object (a DirectShow
// capture filter, or a Media Foundation device source) and the interfaces
// the device code works through, all held until the device is closed.
//
// The camera driver's vendor interface is asked for by its interface id
// like the others; a driver that does not offer it leaves vendor() null.

#include "platform/capture_devices.h"
#include "platform/windows/com_apartment.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/ks_property.h"
#include "platform/windows/vendor_property.h"

#include <memory>
#include <mfidl.h>
#include <optional>

namespace tessell::platform::windows {

class KsCaptureDevice final : public CaptureDevice {
public:
    // `object` is the capture filter or device source. `source` is the same
    // object when it is a device source: it is shut down on close, while
    // `mediaFoundation` (started for it) still runs.
    KsCaptureDevice(ComPtr<IUnknown> object, ComPtr<IMFMediaSource> source = {},
                    std::unique_ptr<MfSession> mediaFoundation = {});
    ~KsCaptureDevice() override;
    KsCaptureDevice(const KsCaptureDevice&) = delete;
    KsCaptureDevice& operator=(const KsCaptureDevice&) = delete;

    PropertyControl* control() override { return control_ ? &*control_ : nullptr; }
    Topology* topology() override { return topology_ ? &*topology_ : nullptr; }
    VendorInterface* vendor() override { return vendor_ ? &*vendor_ : nullptr; }

private:
    MtaUsage mta_; // first in, last out: outlives every interface below
    std::unique_ptr<MfSession> mediaFoundation_;
    ComPtr<IUnknown> object_;
    ComPtr<IMFMediaSource> source_;
    std::optional<KsPropertyControl> control_;
    std::optional<KsTopology> topology_;
    std::optional<DriverVendorInterface> vendor_;
};

} // namespace tessell::platform::windows
