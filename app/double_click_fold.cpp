#include "app/double_click_fold.h"

DoubleClickFold::DoubleClickFold(Clock clock) : m_clock(std::move(clock)) {}

void DoubleClickFold::firstHandled(std::chrono::milliseconds interval) {
    m_begun = true;
    m_deadline = m_clock() + interval;
}

bool DoubleClickFold::isSecondHalf() const {
    return m_begun && m_clock() <= m_deadline;
}
