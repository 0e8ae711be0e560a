#pragma once

// What the single-camera controller asks of whatever shows it: the window
// (Qt) or the console of an unattended run. Every call is made on the
// dialog's thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

// The window's controls, by their resource ids.
enum class Control {
    LogBox = 1000,
    ImagePath = 1001,
    Download = 1003,
    Browse = 1004,
    CameraList = 1005,
    FlashTypeName = 1007,
    Progress = 1010,
    FlashTypeList = 1011,
    Dump = 1012,
    Erase = 1013,
    CameraBcd = 1014,
    ImageBcd = 1015,
    CameraPid = 1016,
    CameraVid = 1017,
    FastDownload = 1019,
    DeviceSerial = 1020,
    DeviceSerialLabel = 1022,
    ReworkToggle = 1026,
    PreviewToggle = 1027,
    PreviewPicture = 1029,
    PreviewLabel = 1030,
    Test = 1031,
    OutputLogFile = 1032,
    LedOn = 1033,
    LedOff = 1034,
};

// The pictures of the status box, by their resource ids.
enum class StatusPicture {
    Fail = 129,
    Running = 130,
    Success = 131,
    Blank = 132,
    CountDown1 = 134,
    CountDown2 = 135,
    CountDown3 = 136,
};

enum class BoxIcon { None, Error, Warning };

struct FileFilter {
    std::string description = "BIN Files";
    std::string pattern = "*.bin";
};

class DialogView {
public:
    virtual ~DialogView() = default;

    // The log box shows exactly `text` (the whole log).
    virtual void showLog(std::string_view text) = 0;
    virtual void scrollLogToEnd() = 0;
    virtual void showStatus(StatusPicture picture) = 0;
    virtual void setProgress(int percent) = 0;

    virtual void setEnabled(Control control, bool enabled) = 0;
    virtual void setVisible(Control control, bool visible) = 0;
    virtual void setChecked(Control control, bool checked) = 0;
    virtual bool isChecked(Control control) const = 0;
    virtual void setText(Control control, std::string_view text) = 0;
    virtual void setCaption(std::string_view caption) = 0;

    // The camera list.
    virtual void clearCameraList() = 0;
    virtual void addCamera(std::string_view entry) = 0;
    virtual void selectCamera(int position) = 0;
    // The selected position, -1 when nothing is selected.
    virtual int selectedCamera() const = 0;

    // A message box with an OK button; returns when it is closed.
    virtual void messageBox(std::string_view text, std::string_view caption, BoxIcon icon) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool askYesNo(std::string_view text, std::string_view caption) = 0;

    // The file-open and file-save choosers; none when cancelled.
    virtual std::optional<std::string> chooseImageFile(const std::string& folder,
                                                       const FileFilter& filter) = 0;
    virtual std::optional<std::string> chooseDumpFile(const std::string& proposedName,
                                                      const FileFilter& filter) = 0;

    // The tool has finished: the view closes and the process ends with `exitCode`.
    virtual void endProcess(int exitCode) = 0;
    // The station's passed and failed burns of today, somewhere unobtrusive
    // (empty: nothing to show). Views without a place for it ignore it.
    virtual void showStationCounts(std::string_view) {}
};

} // namespace tessell
