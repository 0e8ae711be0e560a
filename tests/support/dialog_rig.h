#pragma once

// The single-camera controller on simulated cameras, with a view that
// records what it is told and a manual clock.

#include "app/dialog_view.h"
#include "app/preview_control.h"
#include "app/tessell_dlg.h"
#include "common/dialog_loop.h"
#include "download/image_synthesis.h"
#include "platform/power.h"
#include "tests/support/sim_rig.h"
#include "tests/support/synthetic_image.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace tessell::testing {

class RecordingView final : public DialogView {
public:
    void showLog(std::string_view text) override { shownLog = text; }
    void scrollLogToEnd() override {}
    void showStatus(StatusPicture picture) override { pictures.push_back(picture); }
    void setProgress(int percent) override { progress.push_back(percent); }
    void setEnabled(Control control, bool on) override { enabled[control] = on; }
    void setVisible(Control control, bool on) override { visible[control] = on; }
    void setChecked(Control control, bool on) override {
        if (on)
            checked.insert(control);
        else
            checked.erase(control);
    }
    bool isChecked(Control control) const override { return checked.count(control) != 0; }
    void setText(Control control, std::string_view text) override { texts[control] = text; }
    void setCaption(std::string_view text) override { caption = text; }
    void clearCameraList() override {
        cameras.clear();
        selection = -1;
    }
    void addCamera(std::string_view entry) override { cameras.emplace_back(entry); }
    void selectCamera(int position) override {
        selection = position >= 0 && position < static_cast<int>(cameras.size()) ? position : -1;
    }
    int selectedCamera() const override { return selection; }
    void messageBox(std::string_view text, std::string_view title, BoxIcon) override {
        boxes.push_back(std::string(title) + ": " + std::string(text));
    }
    bool askYesNo(std::string_view text, std::string_view) override {
        questions.emplace_back(text);
        return answerYes;
    }
    std::optional<std::string> chooseImageFile(const std::string&, const FileFilter&) override {
        return imageChoice;
    }
    std::optional<std::string> chooseDumpFile(const std::string& proposed,
                                              const FileFilter&) override {
        dumpProposals.push_back(proposed);
        return dumpChoice;
    }
    void endProcess(int code) override { endedWith = code; }
    void showStationCounts(std::string_view text) override { stationCounts = text; }

    bool isEnabled(Control control) const {
        const auto found = enabled.find(control);
        return found != enabled.end() && found->second;
    }

    std::string shownLog;
    std::vector<StatusPicture> pictures;
    std::vector<int> progress;
    std::map<Control, bool> enabled, visible;
    std::set<Control> checked;
    std::map<Control, std::string> texts;
    std::string caption;
    std::vector<std::string> cameras;
    int selection = -1;
    std::vector<std::string> boxes;
    std::vector<std::string> questions;
    bool answerYes = false;
    std::optional<std::string> imageChoice, dumpChoice;
    std::vector<std::string> dumpProposals;
    std::optional<int> endedWith;
    std::string stationCounts;
};

class FixedPower final : public platform::PowerStatus {
public:
    int acLineStatus() override { return line; }
    int line = platform::kAcOnline;
};

// The dialog's thread for tests: work posted by other threads can be held
// back at the door, so that a test sees the controller while another thread
// is in the middle of something.
class GatedThread final : public DialogThread {
public:
    explicit GatedThread(DialogLoop& loop) : loop_(loop), owner_(std::this_thread::get_id()) {}

    void post(std::function<void()> work) override {
        {
            std::unique_lock lock(mutex_);
            if (std::this_thread::get_id() != owner_ && !open_) {
                ++waiting_;
                changed_.notify_all();
                changed_.wait(lock, [this] { return open_; });
                --waiting_;
            }
        }
        loop_.post(std::move(work));
    }
    void startTimer(int id, Clock::Duration period) override { loop_.startTimer(id, period); }
    void stopTimer(int id) override { loop_.stopTimer(id); }

    void close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    // Until another thread stands at the closed door.
    void awaitVisitor() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_ > 0; });
    }

private:
    DialogLoop& loop_;
    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

// A station with the program folder in the same scratch folder.
class DialogRig {
public:
    explicit DialogRig(const nlohmann::json& devices,
                       nlohmann::json station = nlohmann::json::object())
        : sim(devices, std::move(station)), loop([this](int id) {
              if (dialog)
                  dialog->OnTimer(id);
          }),
          thread(loop) {}

    ~DialogRig() {
        thread.open();
        dialog.reset();
    }

    const std::filesystem::path& folder() const { return sim.dir.path(); }

    void settings(std::string_view text, std::string_view name = "setting.ini") {
        sim.dir.write(name, text);
    }

    // A synthetic image in the program folder; its bytes.
    Bytes image(std::string_view name, image::SynthesisRequest request) {
        auto bytes = synthesized(request);
        if (!bytes.empty())
            writeImage(sim.dir, name, bytes);
        return bytes;
    }

    void start(StartupFlags flags = {}) {
        DialogServices services;
        services.devices = &sim.platform();
        services.usb = &sim.platform();
        services.hotplug = &sim.platform();
        services.power = &power;
        services.programFolder = folder();
        services.out = &out;
        dialog = std::make_unique<CTessellDlg>(services, view, thread, std::move(flags), preview);
        initialised = dialog->OnInitDialog();
    }

    // Runs the dialog's thread until `done` holds or `budget` of tool time
    // has passed. While the worker runs its own sleeps move the clock; in
    // between the loop jumps to the next timer.
    bool pumpUntil(const std::function<bool()>& done,
                   Clock::Duration budget = std::chrono::minutes(10)) {
        const auto end = sim.clock.now() + budget;
        for (;;) {
            sim.platform().service();
            loop.runPending();
            if (done())
                return true;
            if (sim.clock.now() >= end)
                return false;
            // Threads of the dialog's own do real work; only their sleeps move
            // the clock, so it is not pushed past them meanwhile.
            if (dialog &&
                ((dialog->downloadRunning() && !dialog->workerDone()) || dialog->dumpRunning())) {
                std::this_thread::yield();
                continue;
            }
            loop.waitForWork(std::chrono::milliseconds(100));
        }
    }
    bool runToEnd() {
        return pumpUntil([this] { return view.endedWith.has_value(); });
    }

    std::string log() const { return dialog ? dialog->logText() : std::string(); }
    std::string file(std::string_view name) const { return sim.dir.read(name); }

    SimRig sim;
    RecordingView view;
    DialogLoop loop;
    GatedThread thread;
    UnavailablePreview preview;
    FixedPower power;
    std::ostringstream out;
    std::unique_ptr<CTessellDlg> dialog;
    bool initialised = false;
};

inline StartupFlags commandLine(std::string image = {}) {
    StartupFlags flags;
    flags.namedImage = std::move(image);
    flags.cmdLineMode = 1;
    flags.silentMode = 1;
    return flags;
}

} // namespace tessell::testing
