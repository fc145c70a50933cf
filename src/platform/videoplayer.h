#pragma once

#include <QObject>
#include <QUrl>

namespace lumivale {

// A muted video player together with its layer in a desktop surface: the
// picture of the player, stretched to fill the surface (cropped, never letter
// boxed). Layers stack in the order their players were made; a player whose
// layer opacity is 0 keeps decoding and running but is not seen.
//
// The player never opens an audio output, never keeps the screen awake, and
// holds the last frame at the end of the item until told to seek.
//
// Main thread only; signals arrive on the main thread. Destroying a player
// removes its layer and stops it; it must be destroyed before its surface.
class VideoPlayer : public QObject
{
    Q_OBJECT

public:
    enum class ItemStatus {
        Unknown,     // still loading
        ReadyToPlay, // a frame of the item has been drawn
        Failed,      // the item cannot be played; it never becomes ready
    };
    Q_ENUM(ItemStatus)

    using QObject::QObject;

    virtual QUrl url() const = 0;
    // Whether the player was given an item at all.
    virtual bool hasCurrentItem() const = 0;
    virtual ItemStatus itemStatus() const = 0;

    virtual void play() = 0;
    virtual void pause() = 0;
    // Whether the player has been told to pause (rather than play).
    virtual bool isPaused() const = 0;
    virtual void seekToStart() = 0;
    // Seconds from the start of the item; 0 before anything played.
    virtual double currentTime() const = 0;

    virtual qreal layerOpacity() const = 0;
    // Takes effect in one step, without animation.
    virtual void setLayerOpacity(qreal opacity) = 0;

Q_SIGNALS:
    void itemStatusChanged();
    // The item played to its end; the last frame stays on screen.
    void playedToEnd();
};

} // namespace lumivale
