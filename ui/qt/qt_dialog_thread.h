#pragma once

// The dialog's thread in a Qt program: posted work runs from the window's
// event queue, the controller's timers are QTimers whose intervals are the
// clock's real intervals (a fast simulated station shortens them).

#include "common/dialog_loop.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace tessell::ui {

class QtDialogThread final : public DialogThread {
public:
    using TimerHandler = std::function<void(int id)>;

    // `context` lives on the window's thread; posted work dies with it.
    QtDialogThread(QObject& context, TimerHandler onTimer);
    ~QtDialogThread() override;

    void post(std::function<void()> work) override;
    void startTimer(int id, Clock::Duration period) override;
    void stopTimer(int id) override;
    bool timerRunning(int id) const;

private:
    QObject& context_;
    TimerHandler onTimer_;
    std::map<int, std::unique_ptr<QTimer>> timers_;
};

} // namespace tessell::ui
