#include "support/queued_main_thread.h"

void QueuedMainThread::post(std::function<void()> task) {
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_posted.notify_all();
}

bool QueuedMainThread::runNext(std::chrono::milliseconds patience) {
    std::function<void()> task;
    {
        std::unique_lock lock(m_mutex);
        if (!m_posted.wait_for(lock, patience, [this] { return !m_tasks.empty(); }))
            return false;
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
    }
    task();
    return true;
}

std::size_t QueuedMainThread::queued() const {
    const std::lock_guard lock(m_mutex);
    return m_tasks.size();
}
