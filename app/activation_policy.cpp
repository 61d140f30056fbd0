#include "app/activation_policy.h"

ActivationPolicy::ActivationPolicy(Clock clock) : m_clock(std::move(clock)) {}

bool ActivationPolicy::within(TimePoint since, std::chrono::milliseconds window) const {
    return m_clock() - since <= window;
}

void ActivationPolicy::closedOnDeactivation() {
    m_closedOnDeactivation = true;
    m_closedAt = m_clock();
}

bool ActivationPolicy::isTheClosingClick() const {
    return m_closedOnDeactivation && within(m_closedAt, closingClickWindow);
}

void ActivationPolicy::chooserShown() {
    m_chooserUp = true;
    m_handingOver = false;
}

void ActivationPolicy::chooserClosed() {
    m_chooserUp = false;
    m_handingOver = true;
    m_chooserClosedAt = m_clock();
}

void ActivationPolicy::activated() {
    if (!m_chooserUp)
        m_handingOver = false;
}

bool ActivationPolicy::isChoosersHandOver() const {
    return m_chooserUp || (m_handingOver && within(m_chooserClosedAt, chooserHandOver));
}

void ActivationPolicy::reshownQuickly() {
    m_reshown = true;
    m_reshownAt = m_clock();
}

bool ActivationPolicy::takeLeftoverDeactivation() {
    const bool leftover = m_reshown && within(m_reshownAt, leftoverWindow);
    m_reshown = false;
    return leftover;
}

void ActivationPolicy::firstClickHandled(std::chrono::milliseconds interval) {
    m_clickBegun = true;
    m_secondClickDeadline = m_clock() + interval;
}

bool ActivationPolicy::isSecondHalfOfDoubleClick() const {
    return m_clickBegun && m_clock() <= m_secondClickDeadline;
}
