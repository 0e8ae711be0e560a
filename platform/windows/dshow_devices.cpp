#include "platform/windows/dshow_devices.h"

#include "common/trace.h"
#include "platform/device_path.h"
#include "platform/windows/com_apartment.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/dshow_monikers.h"
#include "platform/windows/ks_capture_device.h"
#include "platform/windows/ks_property.h"

#include <algorithm>
#include <mfapi.h>
#include <mfidl.h>
#include <optional>
#include <vector>

namespace tessell::platform::windows {

namespace {

// No machine has this many cameras; a list that never ends is cut here.

DeviceEntry entryOf(std::optional<std::string> path, std::optional<std::string> name) {
    DeviceEntry entry;
    entry.devicePathRead = path.has_value();
    entry.devicePath = path.value_or(std::string());
    entry.friendlyName = name.value_or(std::string());
    entry.usb = entry.devicePathRead && isUsbDevicePath(entry.devicePath);
    return entry;
}

// The activation objects of the sensor-camera category, released with it.
class SensorCameraList {
public:
    explicit SensorCameraList(const MfSession& session) {
        if (!session.started())
            return;
        ComPtr<IMFAttributes> attributes;
        if (FAILED(mediaFoundation()->createAttributes(attributes.put(), 2)))
            return;
        const GUID category = toWindowsGuid(kSensorCameraCategory);
        if (FAILED(attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                                       MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID)) ||
            FAILED(
                attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_CATEGORY, category)))
            return;
        IMFActivate** array = nullptr;
        UINT32 count = 0;
        const HRESULT hr = mediaFoundation()->enumDeviceSources(attributes.get(), &array, &count);
        if (FAILED(hr)) {
            trace::writef("MFEnumDeviceSources: 0x%08lX", static_cast<unsigned long>(hr));
            return;
        }
        for (UINT32 i = 0; array && i < count; ++i)
            objects_.push_back(ComPtr<IMFActivate>::adopt(array[i]));
        CoTaskMemFree(array);
    }
    ~SensorCameraList() {
        // Shutting an activation object down ends only a source it still
        // holds; a detached source lives on.
        for (auto& object : objects_)
            if (object)
                object->ShutdownObject();
    }
    SensorCameraList(const SensorCameraList&) = delete;
    SensorCameraList& operator=(const SensorCameraList&) = delete;

    std::size_t size() const { return std::min(objects_.size(), kMaxListedDevices); }
    IMFActivate& at(std::size_t position) { return *objects_[position].get(); }

    static std::optional<std::string> text(IMFActivate& object, const GUID& key) {
        WCHAR* value = nullptr;
        UINT32 length = 0;
        if (FAILED(object.GetAllocatedString(key, &value, &length)))
            return std::nullopt;
        std::string result = fromWide(value);
        CoTaskMemFree(value);
        return result;
    }

private:
    std::vector<ComPtr<IMFActivate>> objects_;
};

class DirectShowDevices final : public CaptureDevices {
public:
    Status list(DeviceListKind kind, std::vector<DeviceEntry>& entries) override {
        entries.clear();
        const ComThread com;
        if (!com.ready())
            return status::kNothingDone;
        if (kind == DeviceListKind::VideoInput) {
            forEachVideoInput([&](std::size_t, IMoniker&, IPropertyBag* bag) {
                if (bag)
                    entries.push_back(entryOf(readProperty(*bag, L"DevicePath"),
                                              readProperty(*bag, L"FriendlyName")));
                else
                    entries.push_back(entryOf(std::nullopt, std::nullopt));
                return true;
            });
        } else {
            const MfSession session;
            SensorCameraList sources(session);
            for (std::size_t i = 0; i < sources.size(); ++i)
                entries.push_back(entryOf(
                    SensorCameraList::text(sources.at(i),
                                           MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK),
                    SensorCameraList::text(sources.at(i), MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME)));
        }
        return entries.empty() ? status::kNothingDone : status::kOk;
    }

    std::unique_ptr<CaptureDevice> bind(DeviceListKind kind, std::size_t position,
                                        const DeviceEntry& entry) override {
        const ComThread com;
        if (!com.ready() || !entry.devicePathRead)
            return nullptr;
        return kind == DeviceListKind::VideoInput ? bindFilter(position, entry)
                                                  : bindSource(position, entry);
    }

private:
    // The capture filter of the moniker at `position`, when it still is the
    // device the list named there.
    static std::unique_ptr<CaptureDevice> bindFilter(std::size_t position,
                                                     const DeviceEntry& entry) {
        std::unique_ptr<CaptureDevice> device;
        forEachVideoInput([&](std::size_t at, IMoniker& moniker, IPropertyBag* bag) {
            if (at < position)
                return true;
            if (bag && readProperty(*bag, L"DevicePath") == entry.devicePath) {
                ComPtr<IUnknown> filter;
                const HRESULT hr =
                    moniker.BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid());
                if (SUCCEEDED(hr) && filter)
                    device = std::make_unique<KsCaptureDevice>(std::move(filter));
                else
                    trace::writef("%s: capture filter: 0x%08lX", entry.devicePath.c_str(),
                                  static_cast<unsigned long>(hr));
            }
            return false;
        });
        return device;
    }

    // The device source at `position`, activated and detached from its
    // activation object so that it outlives the list.
    static std::unique_ptr<CaptureDevice> bindSource(std::size_t position,
                                                     const DeviceEntry& entry) {
        auto session = std::make_unique<MfSession>();
        SensorCameraList sources(*session);
        if (position >= sources.size())
            return nullptr;
        IMFActivate& object = sources.at(position);
        if (SensorCameraList::text(object,
                                   MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK) !=
            entry.devicePath)
            return nullptr;
        ComPtr<IMFMediaSource> source;
        const HRESULT hr = object.ActivateObject(__uuidof(IMFMediaSource), source.putVoid());
        if (FAILED(hr) || !source) {
            trace::writef("%s: device source: 0x%08lX", entry.devicePath.c_str(),
                          static_cast<unsigned long>(hr));
            return nullptr;
        }
        object.DetachObject();
        auto unknown = source.query<IUnknown>(IID_IUnknown);
        return std::make_unique<KsCaptureDevice>(std::move(unknown), std::move(source),
                                                 std::move(session));
    }

    MtaUsage mta_;
};

} // namespace

std::unique_ptr<CaptureDevices> makeDirectShowDevices() {
    return std::make_unique<DirectShowDevices>();
}

} // namespace tessell::platform::windows
