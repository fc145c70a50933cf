#include "previewplaybackcoordinator.h"

namespace lumivale {

PreviewPlaybackCoordinator::PreviewPlaybackCoordinator(DelayClock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{}

PreviewPlaybackCoordinator::~PreviewPlaybackCoordinator() = default;

void PreviewPlaybackCoordinator::setActiveWallpaperID(const QString &wallpaperID)
{
    if (wallpaperID == m_activeWallpaperID)
        return;
    m_activeWallpaperID = wallpaperID;
    Q_EMIT activeWallpaperIDChanged();
}

void PreviewPlaybackCoordinator::stopPreview(const QString &wallpaperID)
{
    if (!wallpaperID.isEmpty() && m_activeWallpaperID == wallpaperID)
        setActiveWallpaperID(QString());
}

void PreviewPlaybackCoordinator::hoverChanged(const QString &wallpaperID, bool inside,
                                              bool hasVideo)
{
    // Every enter and leave cancels the card's pending start.
    m_hovering.remove(wallpaperID);
    if (!inside) {
        stopPreview(wallpaperID);
        return;
    }
    if (!hasVideo) {
        m_hovering.insert(wallpaperID, nullptr);
        return;
    }
    // The start runs only while the card is still hovered: leaving removed
    // (and so cancelled) it.
    m_hovering.insert(wallpaperID, m_clock.callAfter(kHoverRestMs, [this, wallpaperID] {
        if (m_hovering.contains(wallpaperID))
            setActiveWallpaperID(wallpaperID);
    }));
}

void PreviewPlaybackCoordinator::cardDisappeared(const QString &wallpaperID)
{
    m_hovering.remove(wallpaperID);
    stopPreview(wallpaperID);
}

} // namespace lumivale
