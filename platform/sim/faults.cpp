#include "platform/sim/faults.h"

namespace tessell::sim {

namespace {

using Kind = FaultConfig::Kind;

bool sameOp(FaultConfig::Op op, platform::PropertyOp request) {
    switch (op) {
    case FaultConfig::Op::Set:
        return request == platform::PropertyOp::Set;
    case FaultConfig::Op::Get:
        return request == platform::PropertyOp::Get;
    case FaultConfig::Op::Len:
        return request == platform::PropertyOp::Size;
    }
    return false;
}

} // namespace

FaultSet::FaultSet(std::vector<FaultConfig> faults) {
    for (auto& fault : faults)
        entries_.push_back({std::move(fault)});
}

void FaultSet::onArrival() {
    // Request faults and probe counts run per arrival; an unplug counts the
    // camera's whole life, like the request counter of the state file.
    for (auto& entry : entries_)
        if (entry.config.kind == Kind::Status || entry.config.kind == Kind::NotReady)
            entry.seen = 0;
}

std::optional<Status> FaultSet::onRequest(platform::PropertyOp op, std::uint32_t selector,
                                          std::uint16_t selectedRegister, bool inDownload) {
    std::optional<Status> answer;
    for (auto& entry : entries_) {
        const auto& fault = entry.config;
        if (fault.kind != Kind::Status || fault.selector != selector || !sameOp(fault.op, op))
            continue;
        if (fault.selectedRegister && *fault.selectedRegister != selectedRegister)
            continue;
        if (fault.inDownload && !inDownload)
            continue;
        const std::uint64_t number = ++entry.seen;
        if (!answer && number >= fault.count && number - fault.count < fault.times)
            answer = fault.status;
    }
    return answer;
}

bool FaultSet::probeNotReady() {
    bool notReady = false;
    for (auto& entry : entries_)
        if (entry.config.kind == Kind::NotReady && entry.seen < entry.config.count) {
            ++entry.seen;
            notReady = true;
        }
    return notReady;
}

bool FaultSet::unplugNow(bool inDownload) {
    bool leave = false;
    for (auto& entry : entries_) {
        if (entry.config.kind != Kind::UnplugAfter || entry.spent)
            continue;
        if (entry.config.inDownload && !inDownload)
            continue;
        if (++entry.seen >= entry.config.count) {
            entry.spent = true;
            leave = true;
        }
    }
    return leave;
}

bool FaultSet::unplugBeforeRequest(bool inDownload) {
    bool leave = false;
    for (auto& entry : entries_)
        if (entry.config.kind == Kind::UnplugAfter && !entry.spent && entry.config.count == 0 &&
            (inDownload || !entry.config.inDownload)) {
            entry.spent = true;
            leave = true;
        }
    return leave;
}

bool FaultSet::corruptsBlock(std::uint64_t blockNumber) const {
    for (const auto& entry : entries_)
        if (entry.config.kind == Kind::CorruptBlock && entry.config.count == blockNumber)
            return true;
    return false;
}

bool FaultSet::busyForever() const {
    for (const auto& entry : entries_)
        if (entry.config.kind == Kind::BusyForever && entry.config.count != 0)
            return true;
    return false;
}

bool FaultSet::noReturn() const {
    for (const auto& entry : entries_)
        if (entry.config.kind == Kind::NoReturn && entry.config.count != 0)
            return true;
    return false;
}

} // namespace tessell::sim
