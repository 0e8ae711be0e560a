#include "platform/windows/dshow_monikers.h"

#include "common/trace.h"
#include "common/utf16_text.h"
#include "platform/windows/com_ptr.h"

namespace tessell::platform::windows {

namespace {

// No machine has this many cameras; an enumerator that never ends is cut here.

} // namespace

std::string fromWide(const wchar_t* text) {
    if (!text)
        return {};
    return utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}

std::optional<std::string> readProperty(IPropertyBag& bag, const wchar_t* name) {
    VARIANT value;
    VariantInit(&value);
    std::optional<std::string> text;
    if (SUCCEEDED(bag.Read(name, &value, nullptr)) && value.vt == VT_BSTR)
        text = fromWide(value.bstrVal);
    VariantClear(&value);
    return text;
}

Status forEachVideoInput(const MonikerVisit& visit) {
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICreateDevEnum, devices.putVoid());
    if (FAILED(hr)) {
        trace::writef("system device enumerator: 0x%08lX", static_cast<unsigned long>(hr));
        return status::kNothingDone;
    }
    ComPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
    devices.reset();
    if (hr != S_OK || !monikers) // S_FALSE: the category is empty
        return status::kNothingDone;
    monikers->Reset();
    for (std::size_t position = 0; position < kMaxListedDevices; ++position) {
        ComPtr<IMoniker> moniker;
        if (monikers->Next(1, moniker.put(), nullptr) != S_OK || !moniker)
            break;
        ComPtr<IPropertyBag> bag;
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
        if (!visit(position, *moniker.get(), bag.get()))
            break;
    }
    return status::kOk;
}

} // namespace tessell::platform::windows
