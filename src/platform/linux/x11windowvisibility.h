#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>

class QWindow;

namespace lumivale {

// Watches what X says about one of our own windows being covered, over Qt's
// xcb connection:
//
// - the window's visibility events: without a compositor X reports a window
//   that other windows hide completely as fully obscured (Qt keeps calling
//   such a window exposed). With a compositor X always reports it visible;
// - the stacking and geometry of the other windows (the root window's
//   _NET_CLIENT_LIST_STACKING and its children's configure, map and unmap
//   events), so that the caller can work out, with a compositor too, whether
//   the windows above ours cover it.
//
// Main thread only. Adds to the event masks this client selects on the window
// and the root window, and installs a native event filter on the
// application until destroyed. Off X11 nothing is watched and nothing fires.
class X11WindowVisibility : public QObject, private QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    // `window` must outlive this object; its native window must exist.
    explicit X11WindowVisibility(QWindow *window, QObject *parent = nullptr);
    ~X11WindowVisibility() override;

    // Whether X last reported the window fully obscured.
    bool isFullyObscured() const { return m_fullyObscured; }

Q_SIGNALS:
    void obscuredChanged();
    // Windows were restacked, moved, resized, mapped or unmapped.
    void stackingChanged();

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    std::uint32_t m_window = 0;
    std::uint32_t m_root = 0;
    std::uint32_t m_stackingAtom = 0;
    bool m_active = false;
    bool m_fullyObscured = false;
};

} // namespace lumivale
