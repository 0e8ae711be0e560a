#pragma once

// What a device operation or a download procedure came to, said one way to
// every caller above the device: success, or the status that says what went
// wrong and a reason in plain words. The status is a device status (a
// negative code the camera or the system answered), status::kRefused when
// the camera, its flash or the image is not one the operation takes, or
// status::kFail when the camera answered but the work did not come out right
// (a checksum or a read-back that differs).

#include "platform/status.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tessell {

class [[nodiscard]] Result {
public:
    // Success.
    Result() = default;

    static Result failure(Status status, std::string reason) {
        return Result(status == status::kOk ? status::kFail : status, std::move(reason));
    }
    static Result refused(std::string reason) {
        return Result(status::kRefused, std::move(reason));
    }
    // A device status as a result: kOk is success, anything else a failure
    // for `reason`.
    static Result of(Status status, std::string_view reason) {
        return status == status::kOk ? Result() : Result(status, std::string(reason));
    }

    bool ok() const { return status_ == status::kOk; }
    bool wasRefused() const { return status_ == status::kRefused; }
    Status status() const { return status_; }
    // Empty on success.
    const std::string& reason() const { return reason_; }

private:
    Result(Status status, std::string reason) : status_(status), reason_(std::move(reason)) {}

    Status status_ = status::kOk;
    std::string reason_;
};

// A result that carries a value on success: what an operation found or read
// (a count, a flash word, a USB identity), or the failed `Result` that says
// why there is none.
template <typename T> class [[nodiscard]] Outcome {
public:
    Outcome(T value) : value_(std::move(value)) {}
    // A failure; a successful result without a value is no success.
    Outcome(Result failed)
        : result_(failed.ok() ? Result::failure(status::kFail, "no value") : std::move(failed)) {}

    bool ok() const { return value_.has_value(); }
    bool wasRefused() const { return result_.wasRefused(); }
    Status status() const { return result_.status(); }
    const std::string& reason() const { return result_.reason(); }
    // Success without the value, or the failure.
    const Result& result() const { return result_; }

    // The value; only on success (a read without one ends the program rather
    // than hand out an indeterminate value).
    const T& value() const { return value_.value(); }
    T& value() { return value_.value(); }
    const T& operator*() const { return value(); }
    T& operator*() { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }
    T value_or(T fallback) const { return value_ ? *value_ : std::move(fallback); }

private:
    std::optional<T> value_;
    Result result_;
};

} // namespace tessell
