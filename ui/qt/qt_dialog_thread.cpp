#include "ui/qt/qt_dialog_thread.h"

#include <QMetaObject>

namespace tessell::ui {

QtDialogThread::QtDialogThread(QObject& context, TimerHandler onTimer)
    : context_(context), onTimer_(std::move(onTimer)) {}

QtDialogThread::~QtDialogThread() = default;

void QtDialogThread::post(std::function<void()> work) {
    // Queued even from the window's own thread: posted work runs after what
    // the caller is doing, as a posted window message would.
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

void QtDialogThread::startTimer(int id, Clock::Duration period) {
    auto& timer = timers_[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this, id] {
            if (onTimer_)
                onTimer_(id);
        });
    }
    timer->start(static_cast<int>(clock().realInterval(period).count()));
}

void QtDialogThread::stopTimer(int id) {
    // Stopped, never destroyed: a handler may stop its own timer.
    if (const auto found = timers_.find(id); found != timers_.end())
        found->second->stop();
}

bool QtDialogThread::timerRunning(int id) const {
    const auto found = timers_.find(id);
    return found != timers_.end() && found->second->isActive();
}

} // namespace tessell::ui
