// The settings-file reader: any bytes as "setting.ini" or "pid.ini", asked
// for the names the fuzzer picks and for the tool's own keys.

#include "fuzz_input.h"
#include "station/private_profile.h"
#include "station/settings.h"

using namespace tessell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::size_t buffer = input.byte() * 8;
    const std::string section = input.text();
    const std::string key = input.text();
    const PrivateProfile profile = PrivateProfile::fromBytes(input.restText());

    (void)profile.getString(section, key, "default  ", buffer);
    (void)profile.getInt(section, key, 30);
    (void)profile.sectionNames(buffer);
    (void)profile.sectionNamesUtf16(buffer);
    (void)profile.yieldsNoKey();
    for (const std::string& name : profile.sectionNameList()) {
        (void)PidFromSectionName(name);
        (void)profile.getString(name, "BIN", "SF.bin", 256);
    }
    (void)ParseHex(profile.getString("SETTING", "Rev", "38", 20));
    (void)PreviewTimeMs(profile.getString("SETTING", "Preview_Time", "3", 6));
    (void)FlashTypeFromSFType(profile.getInt("SETTING", "SFType", 0));

    ToolSettingsInput settings;
    settings.programFolder = "/nonexistent-tessell-fuzz";
    settings.file.settingsIndex = input.byte() % 6;
    (void)ReadToolSettings(profile, settings);
    return 0;
}
