#pragma once

// The single-camera tool run unattended, with no window: the dialog's log
// goes to standard output as it grows, a progress bar to standard error when
// that is a terminal, message boxes become lines on standard error and the
// one question the tool asks is answered by "-y" (Yes) or else No.

#include "app/dialog_view.h"
#include "app/query_service.h"
#include "app/startup_flags.h"
#include "app/tessell_dlg.h"

#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace tessell {

class ConsoleView final : public DialogView {
public:
    // `progressBar`: draw the bar on `err` (only when it is a terminal).
    ConsoleView(std::ostream& out, std::ostream& err, bool answerYes, bool progressBar);

    void showLog(std::string_view text) override;
    void scrollLogToEnd() override {}
    void showStatus(StatusPicture) override {}
    void setProgress(int percent) override;

    void setEnabled(Control, bool) override {}
    void setVisible(Control, bool) override {}
    void setChecked(Control control, bool checked) override;
    bool isChecked(Control control) const override { return checked_.count(control) != 0; }
    void setText(Control, std::string_view) override {}
    void setCaption(std::string_view) override {}

    void clearCameraList() override;
    void addCamera(std::string_view entry) override;
    void selectCamera(int position) override;
    int selectedCamera() const override { return selected_; }

    void messageBox(std::string_view text, std::string_view caption, BoxIcon icon) override;
    bool askYesNo(std::string_view text, std::string_view caption) override;
    std::optional<std::string> chooseImageFile(const std::string&, const FileFilter&) override {
        return std::nullopt;
    }
    std::optional<std::string> chooseDumpFile(const std::string&, const FileFilter&) override {
        return std::nullopt;
    }
    void endProcess(int exitCode) override;

    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }

private:
    void endBarLine();

    std::ostream& out_;
    std::ostream& err_;
    bool answerYes_;
    bool progressBar_;
    bool barDrawn_ = false;
    int lastPercent_ = -1;
    std::size_t printed_ = 0;
    bool midLine_ = false; // the log printed last ended without a line end
    std::set<Control> checked_;
    std::vector<std::string> cameras_;
    int selected_ = -1;
    bool ended_ = false;
    int exitCode_ = 0;
};

// Runs the tool to its one result and returns the exit code (-1 as given,
// not yet reduced to a process status). With `queries`, other processes
// may ask their questions while it runs.
int runCommandLineTool(const DialogServices& services, const StartupFlags& flags, std::ostream& out,
                       std::ostream& err, bool progressBar,
                       const QueryService::OpenServer& queries = nullptr);

} // namespace tessell
