#pragma once

#include <string>
#include <utility>
#include <variant>

// What went wrong in a platform call, in words fit for a log line.
struct Failure {
    std::string description;
    // The system's error number behind it, 0 when there is none: callers tell a location that is
    // gone from one whose file server does not answer by it.
    int error = 0;
    bool operator==(const Failure&) const = default;
};

// Either a value or the Failure that prevented it. Platform calls report errors this way
// instead of throwing, so that callers decide where a failure is logged.
template <class T> class Expected {
public:
    Expected(T value) : m_state(std::move(value)) {}
    Expected(Failure failure) : m_state(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    const T& value() const { return std::get<T>(m_state); }
    T& value() { return std::get<T>(m_state); }
    const T* operator->() const { return &value(); }
    const T& operator*() const { return value(); }

    const Failure& failure() const { return std::get<Failure>(m_state); }

private:
    std::variant<T, Failure> m_state;
};
