#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <optional>

namespace lumivale {

// One connected screen as the platform reports it.
struct Screen
{
    // A name a person recognises ("DELL U2720Q DP-1"), unique among the
    // connected screens.
    QString name;
    // A number that stays with the physical monitor across reconnects and
    // restarts; absent when the platform cannot tell monitors apart.
    std::optional<quint32> number;
    // Position and size in the desktop's coordinate space.
    QRect frame;

    friend bool operator==(const Screen &, const Screen &) = default;
};

// The connected screens and their changes. Main thread only.
class ScreenSystem : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // In the system's order; the main screen comes first.
    virtual QList<Screen> screens() const = 0;
    // The screen with the focused window or, lacking one, the primary screen;
    // absent only when no screen is connected.
    virtual std::optional<Screen> mainScreen() const = 0;

Q_SIGNALS:
    // A screen was connected or disconnected, or changed its frame or place.
    // Several may arrive for one change.
    void screenParametersChanged();
};

} // namespace lumivale
