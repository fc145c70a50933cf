#pragma once

#include "platform/delayclock.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace lumivale {

// The search field's folding: a click opens it and asks for the keyboard
// focus kFocusDelayMs later, once the field has finished growing (the
// widening takes 150 ms); losing the focus folds it. The text is not kept
// here: it stays in ContentView whatever the field shows.
//
// Main thread only; the clock must outlive the object.
class SearchFieldState : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool expanded READ expanded NOTIFY expandedChanged)

public:
    static constexpr int kFocusDelayMs = 160;

    explicit SearchFieldState(QObject *parent = nullptr);
    explicit SearchFieldState(DelayClock &clock, QObject *parent = nullptr);
    ~SearchFieldState() override;

    bool expanded() const { return m_expanded; }

    // A click on the field, open or not: (re)opens it and asks for the focus
    // after the delay.
    Q_INVOKABLE void open();
    // The text field gained or lost the keyboard focus.
    Q_INVOKABLE void focusChanged(bool focused);

Q_SIGNALS:
    void expandedChanged();
    // The text field should take the keyboard focus now.
    void focusRequested();

private:
    void setExpanded(bool expanded);

    DelayClock &m_clock;
    bool m_expanded = false;
    std::unique_ptr<PendingCall> m_pendingFocus;
};

} // namespace lumivale
