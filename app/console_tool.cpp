#include "app/console_tool.h"

#include "app/exit_codes.h"
#include "app/preview_control.h"
#include "common/dialog_loop.h"

#include <chrono>
#include <memory>

namespace tessell {

namespace {

constexpr int kBarWidth = 40;
// How long the loop sleeps at most between two looks at the dialog.
constexpr auto kLoopWait = std::chrono::milliseconds(1000);

// Log text uses CR LF; a script reading standard output wants plain lines.
std::string plainLines(std::string_view text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lines += text[i];
    }
    return lines;
}

} // namespace

ConsoleView::ConsoleView(std::ostream& out, std::ostream& err, bool answerYes, bool progressBar)
    : out_(out), err_(err), answerYes_(answerYes), progressBar_(progressBar) {}

void ConsoleView::endBarLine() {
    if (!barDrawn_)
        return;
    err_ << '\n' << std::flush;
    barDrawn_ = false;
}

void ConsoleView::showLog(std::string_view text) {
    // The log only grows; should it ever be replaced, all of it is new.
    if (text.size() < printed_)
        printed_ = 0;
    if (text.size() == printed_)
        return;
    endBarLine();
    out_ << plainLines(text.substr(printed_)) << std::flush;
    printed_ = text.size();
    midLine_ = text.back() != '\n';
}

void ConsoleView::setProgress(int percent) {
    const int clamped = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    // Nothing to show before a download has made progress.
    if (!progressBar_ || clamped == lastPercent_ || (!barDrawn_ && clamped == 0))
        return;
    lastPercent_ = clamped;
    // The bar redraws its line: it must not wipe a log line still open.
    if (!barDrawn_ && midLine_)
        err_ << '\n';
    const int filled = clamped * kBarWidth / 100;
    err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << clamped << "%"
         << std::flush;
    barDrawn_ = true;
}

void ConsoleView::setChecked(Control control, bool checked) {
    if (checked)
        checked_.insert(control);
    else
        checked_.erase(control);
}

void ConsoleView::clearCameraList() {
    cameras_.clear();
    selected_ = -1;
}

void ConsoleView::addCamera(std::string_view entry) {
    cameras_.emplace_back(entry);
}

void ConsoleView::selectCamera(int position) {
    selected_ = position >= 0 && position < static_cast<int>(cameras_.size()) ? position : -1;
}

void ConsoleView::messageBox(std::string_view text, std::string_view caption, BoxIcon) {
    endBarLine();
    err_ << caption << ": " << plainLines(text) << "\n" << std::flush;
}

bool ConsoleView::askYesNo(std::string_view text, std::string_view caption) {
    endBarLine();
    err_ << caption << ": " << plainLines(text) << "\n"
         << (answerYes_ ? "Answered Yes (-y).\n" : "Answered No (give -y to answer Yes).\n")
         << std::flush;
    return answerYes_;
}

void ConsoleView::endProcess(int exitCode) {
    endBarLine();
    ended_ = true;
    exitCode_ = exitCode;
}

int runCommandLineTool(const DialogServices& services, const StartupFlags& flags, std::ostream& out,
                       std::ostream& err, bool progressBar,
                       const QueryService::OpenServer& queries) {
    ConsoleView view(out, err, flags.answerYes != 0, progressBar);
    CTessellDlg* dialog = nullptr;
    DialogLoop loop([&dialog](int id) {
        if (dialog)
            dialog->OnTimer(id);
    });
    UnavailablePreview preview;
    DialogServices withErrors = services;
    if (!withErrors.err)
        withErrors.err = &err;
    CTessellDlg controller(withErrors, view, loop, flags, preview);
    dialog = &controller;
    std::optional<QueryService> questions;
    if (queries) {
        questions.emplace(
            [&controller](ToolQuestion question) {
                return answerToolQuestion(question, controller);
            },
            loop, queries);
        if (!questions->serving())
            err << "tessell: not answering questions of other processes: " << questions->error()
                << "\n";
    }

    if (!controller.OnInitDialog()) {
        err << "tessell: camera arrival and removal cannot be watched on this system; not "
               "running\n";
        controller.OnDestroy();
        return kExitNothingFinished;
    }
    while (!view.ended()) {
        loop.runPending();
        if (view.ended())
            break;
        // Unattended, nobody can press anything: a run with no download, no
        // timer and no dump running would wait for ever.
        if (!controller.downloadRunning() && !controller.dumpRunning() && !loop.anyTimerRunning()) {
            err << "tessell: the run stopped without a result\n";
            controller.OnDestroy();
            break;
        }
        loop.waitForWork(kLoopWait);
    }
    return view.exitCode();
}

} // namespace tessell
