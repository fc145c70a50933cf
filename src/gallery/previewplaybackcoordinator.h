#pragma once

#include "platform/delayclock.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace lumivale {

// Names the one wallpaper whose card preview may play, so that many cards on
// screen never hold many players. A card asks for its preview once the
// pointer has rested on it for kHoverRestMs; leaving the card, or the card
// going away, stops its preview at once. Quick passes over many cards start
// nothing: every enter or leave cancels that card's pending start.
//
// One per gallery, owned by ContentView. Main thread only; the rest runs on
// the given clock, which must outlive the coordinator.
class PreviewPlaybackCoordinator : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by ContentView")
    // Empty while no preview plays.
    Q_PROPERTY(QString activeWallpaperID READ activeWallpaperID NOTIFY activeWallpaperIDChanged)

public:
    static constexpr int kHoverRestMs = 220;

    explicit PreviewPlaybackCoordinator(DelayClock &clock = DelayClock::system(),
                                        QObject *parent = nullptr);
    ~PreviewPlaybackCoordinator() override;

    const QString &activeWallpaperID() const { return m_activeWallpaperID; }
    // Any card may take the preview from another; an empty ID stops it.
    void setActiveWallpaperID(const QString &wallpaperID);
    // Stops the preview only while `wallpaperID` still holds it.
    Q_INVOKABLE void stopPreview(const QString &wallpaperID);

    // The pointer entered (`inside`) or left a card. A card without a video
    // never previews.
    Q_INVOKABLE void hoverChanged(const QString &wallpaperID, bool inside, bool hasVideo);
    // The card left the scene: its pending start is dropped and its preview,
    // if it still has it, stops.
    Q_INVOKABLE void cardDisappeared(const QString &wallpaperID);

    bool isHovering(const QString &wallpaperID) const { return m_hovering.contains(wallpaperID); }

Q_SIGNALS:
    void activeWallpaperIDChanged();

private:
    DelayClock &m_clock;
    QString m_activeWallpaperID;
    // Cards the pointer is over, with their pending starts (null once run).
    QHash<QString, std::shared_ptr<PendingCall>> m_hovering;
};

} // namespace lumivale
