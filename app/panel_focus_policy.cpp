#include "app/panel_focus_policy.h"

PanelFocusPolicy::PanelFocusPolicy(Clock clock) : m_clock(std::move(clock)) {}

bool PanelFocusPolicy::within(TimePoint since, std::chrono::milliseconds window) const {
    return m_clock() - since <= window;
}

void PanelFocusPolicy::closedOnDeactivation() {
    m_closedOnDeactivation = true;
    m_closedAt = m_clock();
}

bool PanelFocusPolicy::isTheClosingClick() const {
    return m_closedOnDeactivation && within(m_closedAt, closingClickWindow);
}

void PanelFocusPolicy::chooserShown() {
    m_chooserUp = true;
    m_handingOver = false;
}

void PanelFocusPolicy::chooserClosed() {
    m_chooserUp = false;
    m_handingOver = true;
    m_chooserClosedAt = m_clock();
}

void PanelFocusPolicy::activated() {
    if (!m_chooserUp)
        m_handingOver = false;
}

bool PanelFocusPolicy::isChoosersHandOver() const {
    return m_chooserUp || (m_handingOver && within(m_chooserClosedAt, chooserHandOver));
}

void PanelFocusPolicy::reshownQuickly() {
    m_reshown = true;
    m_reshownAt = m_clock();
}

bool PanelFocusPolicy::takeLeftoverDeactivation() {
    const bool leftover = m_reshown && within(m_reshownAt, leftoverWindow);
    m_reshown = false;
    return leftover;
}
