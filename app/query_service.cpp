#include "app/query_service.h"

#include "app/tessell_dlg.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tessell {

namespace {

using namespace std::chrono_literals;

// A question waits for the dialog's thread in slices of this much, looking
// for the service closing in between.
constexpr auto kAnswerSlice = 250ms;

} // namespace

std::string answerToolQuestion(ToolQuestion question, CTessellDlg& dialog) {
    switch (question) {
    case ToolQuestion::AcCheck:
        return std::to_string(dialog.answerAcQuery());
    case ToolQuestion::CameraOpen:
        return dialog.cameraOpen() ? "1" : "0";
    case ToolQuestion::ImageBuffer:
        return dialog.imageBufferExists() ? "1" : "0";
    }
    return "0";
}

struct QueryService::Shared {
    std::mutex mutex;
    std::condition_variable answered;
    QueryService::Answer answer; // empty once the service closes
    DialogThread* thread = nullptr;
};

QueryService::QueryService(Answer answer, DialogThread& thread, const OpenServer& open)
    : shared_(std::make_shared<Shared>()) {
    shared_->answer = std::move(answer);
    shared_->thread = &thread;
    std::weak_ptr<Shared> weak = shared_;
    server_ = open(
        [weak](const std::string& request) -> std::string {
            const std::optional<ToolQuestion> question = parseToolQuestion(request);
            if (!question)
                return "ERR unknown request";
            const std::shared_ptr<Shared> shared = weak.lock();
            if (!shared)
                return "ERR tool ending";
            // The dialog's state belongs to its thread: the question is asked
            // there, and this thread waits for the answer.
            auto answer = std::make_shared<std::optional<std::string>>();
            {
                std::lock_guard lock(shared->mutex);
                if (!shared->answer)
                    return "ERR tool ending";
            }
            shared->thread->post([weak, answer, asked = *question] {
                const std::shared_ptr<Shared> state = weak.lock();
                if (!state)
                    return;
                // Closing happens on this same thread, so the function cannot
                // go away while it runs.
                Answer function;
                {
                    std::lock_guard lock(state->mutex);
                    function = state->answer;
                }
                if (!function)
                    return;
                std::string text = function(asked);
                std::lock_guard lock(state->mutex);
                *answer = std::move(text);
                state->answered.notify_all();
            });
            const auto settled = [&] { return answer->has_value() || !shared->answer; };
            std::unique_lock lock(shared->mutex);
            while (!settled()) {
                clock().waitFor(shared->answered, lock, kAnswerSlice, settled);
                // A clock that does not block (as in tests) must still let
                // the dialog's thread in.
                if (!settled()) {
                    lock.unlock();
                    std::this_thread::yield();
                    lock.lock();
                }
            }
            return answer->has_value() ? **answer : "ERR tool ending";
        },
        error_);
}

QueryService::~QueryService() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->answer = nullptr;
        shared_->answered.notify_all();
    }
    server_.reset();
}

} // namespace tessell
