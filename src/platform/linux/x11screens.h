#pragma once

#include "platform/screens.h"

#include <QHash>
#include <QPointer>

class QScreen;

namespace lumivale {

// The screens of an X11 session, from Qt's screens and the monitors' EDID.
//
// A screen's number is a hash of its EDID's vendor, product and serial, so it
// stays with the monitor across reconnects and restarts; it is left out when
// the EDID cannot be read or two connected monitors would share it. A screen
// whose frame contains or duplicates another's (the all-covering screen Xvfb
// reports beside RandR monitors, a mirrored output) is not a separate screen.
//
// Main thread only; needs a QGuiApplication on the xcb platform for EDIDs
// (on any other platform, numbers are simply absent).
class X11ScreenSystem : public ScreenSystem
{
    Q_OBJECT

public:
    explicit X11ScreenSystem(QObject *parent = nullptr);

    QList<Screen> screens() const override;
    std::optional<Screen> mainScreen() const override;

    // The Qt screen behind one of ours, matched by name; null once it is gone.
    QScreen *qscreenFor(const Screen &screen) const;

    // Exposed for tests: the number an EDID block gives, if it is a valid one.
    static std::optional<quint32> numberFromEDID(const QByteArray &edid);
    // The monitor name from an EDID's descriptors, empty if it has none.
    static QString modelFromEDID(const QByteArray &edid);
    // Which of these frames stand for separate screens, in order.
    static QList<int> separateScreenIndexes(const QList<QRect> &frames);

private:
    struct Entry
    {
        Screen screen;
        QPointer<QScreen> qscreen;
    };
    void watch(QScreen *screen);
    void refresh();

    QList<Entry> m_entries;
};

} // namespace lumivale
