#include "platform/qt_main_thread.h"

#include <mutex>

#include <QMetaObject>
#include <QObject>

// Workers may post while the receiver is being destroyed: the mutex keeps the pointer valid
// for the length of a post, and Qt discards what was posted to an object as it goes.
struct QtMainThread::State {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

QtMainThread::QtMainThread(QObject* receiver) : m_state(std::make_shared<State>()) {
    m_state->receiver = receiver;
    QObject::connect(receiver, &QObject::destroyed, [state = m_state] {
        const std::lock_guard lock(state->mutex);
        state->receiver = nullptr;
    });
}

void QtMainThread::post(std::function<void()> task) {
    const std::lock_guard lock(m_state->mutex);
    if (m_state->receiver)
        QMetaObject::invokeMethod(m_state->receiver, std::move(task), Qt::QueuedConnection);
}
