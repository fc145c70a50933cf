#pragma once

#include "platform/platform.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringList>

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

// A gallery player that draws nothing: the test reports its status (with a
// reason on failure) and its end, and reads back what it was told.
class FakeGalleryPlayer : public GalleryPlayer
{
    Q_OBJECT

public:
    explicit FakeGalleryPlayer(const QUrl &url)
        : m_url(url)
    {}

    QUrl url() const override { return m_url; }
    ItemStatus itemStatus() const override { return m_status; }
    QString errorDescription() const override { return m_error; }
    void play() override;
    void pause() override;
    bool isPaused() const override { return m_paused; }
    void setMuted(bool muted) override { m_muted = muted; }
    bool isMuted() const override { return m_muted; }
    void setGravity(Gravity gravity) override { m_gravity = gravity; }
    Gravity gravity() const { return m_gravity; }
    void seekToStart() override { ++m_seekCount; }
    QQuickItem *pictureItem() const override { return nullptr; }

    // Test controls. Each call is one report, also when the status is unchanged.
    void reportStatus(ItemStatus status, const QString &error = {});
    void reachEnd() { Q_EMIT playedToEnd(); }

    int playCount() const { return m_playCount; }
    int pauseCount() const { return m_pauseCount; }
    int seekCount() const { return m_seekCount; }

private:
    QUrl m_url;
    ItemStatus m_status = ItemStatus::Unknown;
    QString m_error;
    bool m_paused = true;
    bool m_muted = true;
    Gravity m_gravity = Gravity::ResizeAspectFill;
    int m_playCount = 0;
    int m_pauseCount = 0;
    int m_seekCount = 0;
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
    Result<> setDesktopImage(const QUrl &image, const Screen &screen,
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

class FakeWorkspace : public Workspace
{
    Q_OBJECT

public:
    std::optional<QList<WindowDescription>> windowsFrontToBack() const override
    {
        return m_windows;
    }
    std::optional<QRect> activeWindowFrame() const override { return m_activeFrame; }

    // Test controls; none of them notifies by itself.
    void setWindows(std::optional<QList<WindowDescription>> windows)
    {
        m_windows = std::move(windows);
    }
    void setActiveWindowFrame(std::optional<QRect> frame) { m_activeFrame = frame; }
    void notifyActiveApplicationChanged() { Q_EMIT activeApplicationChanged(); }

private:
    std::optional<QList<WindowDescription>> m_windows = QList<WindowDescription>();
    std::optional<QRect> m_activeFrame;
};

class FakePowerState : public PowerState
{
    Q_OBJECT

public:
    bool isLowPowerModeEnabled() const override { return m_lowPower; }
    // Changes the mode and notifies, also when the value is unchanged.
    void setLowPowerModeEnabled(bool enabled);

private:
    bool m_lowPower = false;
};

class FakeLoginItemService : public LoginItemService
{
public:
    Status status() const override { return m_status; }
    Result<> registerLoginItem() override;
    Result<> unregisterLoginItem() override;

    // Test controls.
    void setStatus(Status status) { m_status = status; }
    // Every call from now on fails with `error`, or succeeds with nothing.
    void setFailure(std::optional<Error> error) { m_failure = std::move(error); }
    int registerCalls() const { return m_registerCalls; }
    int unregisterCalls() const { return m_unregisterCalls; }

private:
    Status m_status = Status::NotRegistered;
    std::optional<Error> m_failure;
    int m_registerCalls = 0;
    int m_unregisterCalls = 0;
};

// Records what the user would have seen, and answers questions as told.
class FakeUserPrompts : public UserPrompts
{
public:
    struct Alert
    {
        QString message;
        QString informativeText;
    };

    void activateApplication() override { ++m_activations; }
    void presentAlert(const QString &message, const QString &informativeText) override;
    bool askQuestion(const QString &message, const QString &informativeText,
                     const QString &acceptTitle, const QString &rejectTitle) override;
    void revealFile(const QString &path) override { m_revealed.append(path); }

    // Test controls.
    void setAnswer(bool accept) { m_answer = accept; }
    const QList<Alert> &alerts() const { return m_alerts; }
    // Questions asked, as alerts.
    const QList<Alert> &questions() const { return m_questions; }
    const QStringList &revealedFiles() const { return m_revealed; }
    int activations() const { return m_activations; }
    // How many activations came right before an alert or a question.
    int activationsBeforePrompts() const { return m_activatedPrompts; }

private:
    void notePrompt();

    bool m_answer = true;
    QList<Alert> m_alerts;
    QList<Alert> m_questions;
    QStringList m_revealed;
    int m_activations = 0;
    int m_activationsSeen = 0;
    int m_activatedPrompts = 0;
};

// The double as a whole. Install it with Platform::setInstance, or hand it to
// the objects under test.
class FakePlatform : public Platform
{
public:
    FakeScreenSystem &screens() override { return m_screens; }
    FakeDesktopPictures &desktopPictures() override { return m_pictures; }
    FakeWorkspace &workspace() override { return m_workspace; }
    FakePowerState &powerState() override { return m_power; }
    FakeLoginItemService &loginItem() override { return m_loginItem; }
    FakeUserPrompts &prompts() override { return m_prompts; }
    std::unique_ptr<DesktopSurface> createDesktopSurface(const Screen &screen) override;
    void restoreDesktop() override { ++m_desktopRestores; }

    // How often the desktop was given back what the surfaces took.
    int desktopRestores() const { return m_desktopRestores; }

    std::unique_ptr<GalleryPlayer> createGalleryPlayer(const QUrl &url, QQuickItem *view) override;

    // Gallery players still alive, in order of making.
    QList<FakeGalleryPlayer *> liveGalleryPlayers() const;
    int galleryPlayersMade() const { return int(m_galleryPlayers.size()); }
    // Surfaces still alive, in order of making.
    QList<FakeDesktopSurface *> liveSurfaces() const;
    FakeDesktopSurface *surfaceFor(const QString &screenName) const;
    int surfacesMade() const { return int(m_surfaces.size()); }

private:
    FakeScreenSystem m_screens;
    FakeDesktopPictures m_pictures;
    FakeWorkspace m_workspace;
    FakePowerState m_power;
    FakeLoginItemService m_loginItem;
    FakeUserPrompts m_prompts;
    QList<QPointer<FakeDesktopSurface>> m_surfaces;
    int m_desktopRestores = 0;
    QList<QPointer<FakeGalleryPlayer>> m_galleryPlayers;
};

} // namespace lumivale::fake
