#include "platform/sim/state_file.h"

#include "common/json_text.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

namespace tessell::sim {

std::string stateJson(const CameraState& state) {
    nlohmann::ordered_json registers = nlohmann::ordered_json::object();
    for (const auto& [address, value] : state.registers) {
        char key[8];
        std::snprintf(key, sizeof key, "0x%04x", static_cast<unsigned>(address));
        registers[key] = value;
    }
    const char* led = state.led == LedState::On    ? "on"
                      : state.led == LedState::Off ? "off"
                                                   : "unknown";
    nlohmann::ordered_json json;
    json["present"] = state.present;
    json["mode"] = state.download ? "download" : "idle";
    json["led"] = led;
    json["resets"] = state.resets;
    json["arrivals"] = state.arrivals;
    json["requests"] = state.requests;
    json["registers"] = std::move(registers);
    json["flash_status"] = state.flashStatus;
    return jsonText(json) + "\n";
}

void StateFile::write(const CameraState& state) {
    std::string text = stateJson(state);
    if (text == written_)
        return;
    auto temporary = file_;
    temporary += ".tmp";
    if (written_.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(file_.parent_path(), ignored);
    }
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return; // nowhere to write: the camera works on without it
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out.flush())
            return;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, file_, ec);
    if (!ec)
        written_ = std::move(text);
}

} // namespace tessell::sim
