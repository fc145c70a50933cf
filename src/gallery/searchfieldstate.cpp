#include "searchfieldstate.h"

namespace lumivale {

SearchFieldState::SearchFieldState(QObject *parent)
    : SearchFieldState(DelayClock::system(), parent)
{}

SearchFieldState::SearchFieldState(DelayClock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{}

SearchFieldState::~SearchFieldState() = default;

void SearchFieldState::open()
{
    setExpanded(true);
    m_pendingFocus = m_clock.callAfter(kFocusDelayMs, [this] {
        if (m_expanded)
            Q_EMIT focusRequested();
    });
}

void SearchFieldState::focusChanged(bool focused)
{
    if (focused)
        return;
    // A fold also drops a focus still on its way: it would find no field.
    m_pendingFocus.reset();
    setExpanded(false);
}

void SearchFieldState::setExpanded(bool expanded)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    Q_EMIT expandedChanged();
}

} // namespace lumivale
