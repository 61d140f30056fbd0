#include "platform/qt_main_thread.h"

#include <mutex>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace {

const QEvent::Type taskEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// One task, carried by an event to the thread that runs it.
class TaskEvent : public QEvent {
public:
    explicit TaskEvent(std::function<void()> task)
        : QEvent(taskEventType), m_task(std::move(task)) {}

    void run() { m_task(); }

private:
    std::function<void()> m_task;
};

// Runs the tasks posted to it; a child of the receiver, so it goes with it, and the tasks still
// queued for it with it. Its own destructor says it is going, before QObject's takes it out of
// the event queues: no post can reach it in between.
class TaskRunner : public QObject {
public:
    TaskRunner(QObject* parent, std::function<void()> going)
        : QObject(parent), m_going(std::move(going)) {}
    ~TaskRunner() override { m_going(); }

    bool event(QEvent* event) override {
        if (event->type() != taskEventType)
            return QObject::event(event);
        static_cast<TaskEvent*>(event)->run();
        return true;
    }

private:
    std::function<void()> m_going;
};

} // namespace

// Workers may post while the receiver is being destroyed: the mutex keeps the pointer valid
// for the length of a post, and Qt discards what was posted to an object as it goes.
struct QtMainThread::State {
    std::mutex mutex;
    QObject* runner = nullptr;
};

QtMainThread::QtMainThread(QObject* receiver) : m_state(std::make_shared<State>()) {
    m_state->runner = new TaskRunner(receiver, [state = m_state] {
        const std::lock_guard lock(state->mutex);
        state->runner = nullptr;
    });
}

void QtMainThread::post(std::function<void()> task) {
    // Ahead of the painting and input already queued: an answer the user waits for is acted
    // on first, and whatever it changes is painted once, after it.
    const std::lock_guard lock(m_state->mutex);
    if (m_state->runner)
        QCoreApplication::postEvent(m_state->runner, new TaskEvent(std::move(task)),
                                    Qt::HighEventPriority);
}
