#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// Disconnects its slot when destroyed, so that an observer cannot outlive its registration.
class Connection {
public:
    Connection() = default;
    explicit Connection(std::function<void()> disconnect) : m_disconnect(std::move(disconnect)) {}
    Connection(Connection&& other) noexcept : m_disconnect(std::exchange(other.m_disconnect, {})) {}
    Connection& operator=(Connection&& other) noexcept {
        if (this != &other) {
            disconnect();
            m_disconnect = std::exchange(other.m_disconnect, {});
        }
        return *this;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { disconnect(); }

    void disconnect() {
        if (m_disconnect)
            std::exchange(m_disconnect, {})();
    }

private:
    std::function<void()> m_disconnect;
};

// A synchronous, single-threaded list of callbacks. Slots run in the order they were
// connected; a slot may connect or disconnect others while it runs.
template <class... Args> class Signal {
public:
    using Slot = std::function<void(Args...)>;

    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Connection connect(Slot slot) {
        const auto id = m_nextId++;
        m_slots->push_back({id, std::make_shared<Slot>(std::move(slot))});
        std::weak_ptr<std::vector<Entry>> weakSlots = m_slots;
        return Connection([weakSlots, id] {
            if (auto slots = weakSlots.lock())
                std::erase_if(*slots, [id](const Entry& e) { return e.id == id; });
        });
    }

    void emit(Args... args) const {
        // Copy first: a slot may change the list while we walk it.
        const std::vector<Entry> snapshot = *m_slots;
        for (const Entry& entry : snapshot) {
            const bool stillConnected = std::any_of(
                m_slots->begin(), m_slots->end(), [&](const Entry& e) { return e.id == entry.id; });
            if (stillConnected)
                (*entry.slot)(args...);
        }
    }

private:
    struct Entry {
        unsigned long id;
        std::shared_ptr<Slot> slot;
    };
    std::shared_ptr<std::vector<Entry>> m_slots = std::make_shared<std::vector<Entry>>();
    unsigned long m_nextId = 0;
};
