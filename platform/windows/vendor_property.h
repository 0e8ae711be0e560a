#pragma once

// The camera driver's own property interface, offered by its capture filter
// (or device source) next to IKsControl. It takes a command word (with the
// data of a write) through Set and hands the answer to the last command out
// through Get, both with property id 35. Neither call says how long its
// buffer is, so the driver is only ever given a buffer of our own that holds
// the longest command and answer.

#include "platform/capture_devices.h"
#include "platform/windows/com_ptr.h"

#include <array>
#include <mutex>
#include <windows.h>

namespace tessell::platform::windows {

// Interface id {755742BA-C3AD-450A-BF7B-8E4F9D20A830}.
struct IVendorPropertyInterface : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Unused() = 0; // never called
    virtual HRESULT STDMETHODCALLTYPE Get(ULONG propertyId, void* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE Set(ULONG propertyId, void* buffer) = 0;
};

inline constexpr GUID kIidVendorPropertyInterface = {
    0x755742BA, 0xC3AD, 0x450A, {0xBF, 0x7B, 0x8E, 0x4F, 0x9D, 0x20, 0xA8, 0x30}};

class DriverVendorInterface final : public VendorInterface {
public:
    explicit DriverVendorInterface(ComPtr<IVendorPropertyInterface> driver)
        : driver_(std::move(driver)) {}

    // `buffer` starts with the command word; a write's data follows it. A
    // word whose length is beyond 4096 bytes, or beyond the data given, is
    // refused without reaching the driver.
    Status set(std::uint32_t propertyId, std::span<const std::uint8_t> buffer) override;
    // The answer to the last command, at most 4096 bytes of it.
    Status get(std::uint32_t propertyId, std::span<std::uint8_t> buffer) override;

private:
    ComPtr<IVendorPropertyInterface> driver_;
    std::mutex mutex_;
    // Command word, 4096 data bytes, and a zero word a read command carries.
    std::array<std::uint8_t, 4 + kXuMaxTransfer + 4> scratch_{};
};

} // namespace tessell::platform::windows
