#pragma once

#include "videoplayer.h"

#include <QObject>
#include <QString>
#include <QUrl>

class QQuickItem;

namespace lumivale {

// A player for the gallery: one video, local or streamed over http/https
// with a bounded network cache, drawn into a Qt Quick item of its own. The
// picture fills that item as its gravity says; until the item is shown in a
// window nothing is loaded, and the item becomes ready only once a frame has
// really been drawn into the scene.
//
// The player never keeps the screen awake, opens no audio output while muted,
// and holds the last frame at the end of the item until told to seek. Muting,
// gravity and play/pause act on the same player; none recreates it.
//
// Main thread only; signals arrive on the main thread. Destroying the player
// hides its picture at once; its decoder winds down in the background without
// stalling the scene.
class GalleryPlayer : public QObject
{
    Q_OBJECT

public:
    using ItemStatus = VideoPlayer::ItemStatus;

    // How the picture fills the item.
    enum class Gravity {
        ResizeAspect,     // whole picture, letter-boxed
        ResizeAspectFill, // fills the item, cropped
        Resize,           // stretched to the item
    };
    Q_ENUM(Gravity)

    using QObject::QObject;

    virtual QUrl url() const = 0;
    virtual ItemStatus itemStatus() const = 0;
    // Why the item failed, in the player's words; empty when it gave none.
    virtual QString errorDescription() const = 0;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual bool isPaused() const = 0;
    virtual void setMuted(bool muted) = 0;
    virtual bool isMuted() const = 0;
    virtual void setGravity(Gravity gravity) = 0;
    virtual void seekToStart() = 0;

    // The item that shows the picture, owned by the player and made a child of
    // the view given at creation, filling it; null for players that draw
    // nothing. Its opacity is the caller's to animate.
    virtual QQuickItem *pictureItem() const = 0;

Q_SIGNALS:
    // Each emission is one report: a player may report Failed more than once.
    void itemStatusChanged();
    // The item played to its end; the last frame stays on screen.
    void playedToEnd();
};

} // namespace lumivale
