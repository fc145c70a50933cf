#pragma once

#include "platform/platform.h"

#include <QHash>
#include <QList>
#include <QPointer>

namespace lumivale::fake {

class FakeDesktopSurface;

// A player that does nothing by itself: the test decides when its item becomes
// ready or fails and when it reaches its end, and reads back what it was told.
class FakeVideoPlayer : public VideoPlayer
{
    Q_OBJECT

public:
    FakeVideoPlayer(FakeDesktopSurface *surface, const QUrl &url, qreal opacity);
    ~FakeVideoPlayer() override;

    QUrl url() const override { return m_url; }
    bool hasCurrentItem() const override { return m_hasItem; }
    ItemStatus itemStatus() const override { return m_status; }
    void play() override;
    void pause() override;
    bool isPaused() const override { return m_paused; }
    void seekToStart() override;
    double currentTime() const override { return m_currentTime; }
    qreal layerOpacity() const override { return m_opacity; }
    void setLayerOpacity(qreal opacity) override { m_opacity = opacity; }

    // Test controls.
    void reportStatus(ItemStatus status);
    void reachEnd() { Q_EMIT playedToEnd(); }
    void setCurrentTime(double seconds) { m_currentTime = seconds; }
    void setHasCurrentItem(bool hasItem) { m_hasItem = hasItem; }

    int playCount() const { return m_playCount; }
    int pauseCount() const { return m_pauseCount; }
    int seekCount() const { return m_seekCount; }
    FakeDesktopSurface *surface() const { return m_surface; }

private:
    QPointer<FakeDesktopSurface> m_surface;
    QUrl m_url;
    bool m_hasItem = true;
    ItemStatus m_status = ItemStatus::Unknown;
    bool m_paused = true;
    double m_currentTime = 0;
    qreal m_opacity = 1;
    int m_playCount = 0;
    int m_pauseCount = 0;
    int m_seekCount = 0;
};

class FakeDesktopSurface : public DesktopSurface
{
    Q_OBJECT

public:
    explicit FakeDesktopSurface(const Screen &screen);
    ~FakeDesktopSurface() override;

    QRect frame() const override { return m_frame; }
    void setFrame(const QRect &frame) override { m_frame = frame; }
    void orderFront() override;
    void close() override { m_visible = false; }
    bool isVisible() const override { return m_visible; }
    std::unique_ptr<VideoPlayer> createPlayer(const QUrl &file, qreal layerOpacity) override;

    const Screen &screen() const { return m_screen; }
    // Players made from now on have an item, or none.
    void setNewPlayersHaveItems(bool haveItems) { m_newPlayersHaveItems = haveItems; }
    int orderFrontCount() const { return m_orderFrontCount; }
    // Live players, bottom layer first.
    QList<FakeVideoPlayer *> layers() const { return m_layers; }
    // The player whose picture a viewer would see: the topmost opaque layer.
    FakeVideoPlayer *visiblePlayer() const;

private:
    friend class FakeVideoPlayer;

    Screen m_screen;
    QRect m_frame;
    bool m_visible = false;
    int m_orderFrontCount = 0;
    bool m_newPlayersHaveItems = true;
    QList<FakeVideoPlayer *> m_layers;
};

class FakeScreenSystem : public ScreenSystem
{
    Q_OBJECT

public:
    QList<Screen> screens() const override { return m_screens; }
    std::optional<Screen> mainScreen() const override;

    // Each of these sends one change notification.
    void setScreens(const QList<Screen> &screens);
    void addScreen(const Screen &screen);
    void removeScreen(const QString &name);
    void changeScreenFrame(const QString &name, const QRect &frame);
    void notifyChange() { Q_EMIT screenParametersChanged(); }

private:
    QList<Screen> m_screens;
};

class FakeDesktopPictures : public DesktopPictures
{
public:
    struct Picture
    {
        QUrl url;
        QVariantMap options;
    };

    std::optional<QUrl> desktopImageURL(const Screen &screen) const override;
    QVariantMap desktopImageOptions(const Screen &screen) const override;
    std::optional<Error> setDesktopImage(const QUrl &image, const Screen &screen,
                                         const QVariantMap &options) override;

    // Test controls, keyed by screen name.
    void setPicture(const QString &screenName, const Picture &picture);
    void clearPicture(const QString &screenName) { m_pictures.remove(screenName); }
    std::optional<Picture> picture(const QString &screenName) const;
    void failWritesFor(const QString &screenName, const Error &error);
    // Every successful write, in order, as (screen name, picture).
    const QList<std::pair<QString, Picture>> &writes() const { return m_writes; }

private:
    QHash<QString, Picture> m_pictures;
    QHash<QString, Error> m_failures;
    QList<std::pair<QString, Picture>> m_writes;
};

// The double as a whole. Install it with Platform::setInstance, or hand it to
// the objects under test.
class FakePlatform : public Platform
{
public:
    FakeScreenSystem &screens() override { return m_screens; }
    FakeDesktopPictures &desktopPictures() override { return m_pictures; }
    std::unique_ptr<DesktopSurface> createDesktopSurface(const Screen &screen) override;

    // Surfaces still alive, in order of making.
    QList<FakeDesktopSurface *> liveSurfaces() const;
    FakeDesktopSurface *surfaceFor(const QString &screenName) const;
    int surfacesMade() const { return int(m_surfaces.size()); }

private:
    FakeScreenSystem m_screens;
    FakeDesktopPictures m_pictures;
    QList<QPointer<FakeDesktopSurface>> m_surfaces;
};

} // namespace lumivale::fake
