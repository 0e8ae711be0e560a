#include "platform/windows/vendor_property.h"

#include "platform/windows/hresult_status.h"

#include <algorithm>

namespace tessell::platform::windows {

Status DriverVendorInterface::set(std::uint32_t propertyId, std::span<const std::uint8_t> buffer) {
    if (!driver_)
        return status::kPointer;
    if (buffer.size() < 4 || buffer.size() > scratch_.size())
        return status::kInvalidArgument;
    const std::uint32_t word = std::uint32_t{buffer[0]} | std::uint32_t{buffer[1]} << 8 |
                               std::uint32_t{buffer[2]} << 16 | std::uint32_t{buffer[3]} << 24;
    const std::size_t length = word & 0xFFFF;
    const bool write = (word >> 16 & 0xFF) == kUvcSetCur;
    // The driver takes the length from the word: a write's data must all be
    // here, and no answer may outgrow the answer buffer.
    if (length > kXuMaxTransfer || (write && buffer.size() < 4 + length))
        return status::kInvalidArgument;
    std::lock_guard lock(mutex_);
    scratch_.fill(0);
    std::copy(buffer.begin(), buffer.end(), scratch_.begin());
    return statusFromHresult(driver_->Set(propertyId, scratch_.data()));
}

Status DriverVendorInterface::get(std::uint32_t propertyId, std::span<std::uint8_t> buffer) {
    if (!driver_)
        return status::kPointer;
    if (buffer.size() > kXuMaxTransfer)
        return status::kInvalidArgument;
    std::lock_guard lock(mutex_);
    // What the caller put in (the size query repeats its command word) goes
    // along, in a buffer the longest answer fits.
    scratch_.fill(0);
    std::copy(buffer.begin(), buffer.end(), scratch_.begin());
    const Status result = statusFromHresult(driver_->Get(propertyId, scratch_.data()));
    if (!status::failed(result))
        std::copy_n(scratch_.begin(), buffer.size(), buffer.begin());
    return result;
}

} // namespace tessell::platform::windows
