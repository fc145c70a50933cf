#include "fakeplatform.h"

namespace lumivale::fake {

FakeVideoPlayer::FakeVideoPlayer(FakeDesktopSurface *surface, const QUrl &url, qreal opacity)
    : m_surface(surface)
    , m_url(url)
    , m_opacity(opacity)
{
    m_surface->m_layers.append(this);
}

FakeVideoPlayer::~FakeVideoPlayer()
{
    if (m_surface)
        m_surface->m_layers.removeOne(this);
}

void FakeVideoPlayer::play()
{
    m_paused = false;
    ++m_playCount;
}

void FakeVideoPlayer::pause()
{
    m_paused = true;
    ++m_pauseCount;
}

void FakeVideoPlayer::seekToStart()
{
    m_currentTime = 0;
    ++m_seekCount;
}

void FakeVideoPlayer::reportStatus(ItemStatus status)
{
    m_status = status;
    Q_EMIT itemStatusChanged();
}

void FakeGalleryPlayer::play()
{
    m_paused = false;
    ++m_playCount;
}

void FakeGalleryPlayer::pause()
{
    m_paused = true;
    ++m_pauseCount;
}

void FakeGalleryPlayer::reportStatus(ItemStatus status, const QString &error)
{
    m_status = status;
    m_error = error;
    Q_EMIT itemStatusChanged();
}

FakeDesktopSurface::FakeDesktopSurface(const Screen &screen)
    : m_screen(screen)
    , m_frame(screen.frame)
{}

FakeDesktopSurface::~FakeDesktopSurface()
{
    Q_ASSERT_X(m_layers.isEmpty(), "FakeDesktopSurface", "players must go before their surface");
}

void FakeDesktopSurface::orderFront()
{
    m_visible = true;
    ++m_orderFrontCount;
}

std::unique_ptr<VideoPlayer> FakeDesktopSurface::createPlayer(const QUrl &file, qreal layerOpacity)
{
    auto player = std::make_unique<FakeVideoPlayer>(this, file, layerOpacity);
    player->setHasCurrentItem(m_newPlayersHaveItems);
    return player;
}

FakeVideoPlayer *FakeDesktopSurface::visiblePlayer() const
{
    for (auto it = m_layers.crbegin(); it != m_layers.crend(); ++it) {
        if ((*it)->layerOpacity() > 0)
            return *it;
    }
    return nullptr;
}

std::optional<Screen> FakeScreenSystem::mainScreen() const
{
    if (m_screens.isEmpty())
        return std::nullopt;
    return m_screens.first();
}

void FakeScreenSystem::setScreens(const QList<Screen> &screens)
{
    m_screens = screens;
    Q_EMIT screenParametersChanged();
}

void FakeScreenSystem::addScreen(const Screen &screen)
{
    m_screens.append(screen);
    Q_EMIT screenParametersChanged();
}

void FakeScreenSystem::removeScreen(const QString &name)
{
    m_screens.removeIf([&](const Screen &screen) { return screen.name == name; });
    Q_EMIT screenParametersChanged();
}

void FakeScreenSystem::changeScreenFrame(const QString &name, const QRect &frame)
{
    for (Screen &screen : m_screens) {
        if (screen.name == name)
            screen.frame = frame;
    }
    Q_EMIT screenParametersChanged();
}

std::optional<QUrl> FakeDesktopPictures::desktopImageURL(const Screen &screen) const
{
    const auto it = m_pictures.constFind(screen.name);
    if (it == m_pictures.cend())
        return std::nullopt;
    return it->url;
}

QVariantMap FakeDesktopPictures::desktopImageOptions(const Screen &screen) const
{
    return m_pictures.value(screen.name).options;
}

Result<> FakeDesktopPictures::setDesktopImage(const QUrl &image, const Screen &screen,
                                              const QVariantMap &options)
{
    if (const auto refused = m_failures.constFind(screen.name); refused != m_failures.cend())
        return failure(*refused);
    m_pictures.insert(screen.name, Picture{image, options});
    m_writes.append({screen.name, Picture{image, options}});
    return {};
}

void FakeDesktopPictures::setPicture(const QString &screenName, const Picture &picture)
{
    m_pictures.insert(screenName, picture);
}

std::optional<FakeDesktopPictures::Picture>
FakeDesktopPictures::picture(const QString &screenName) const
{
    const auto it = m_pictures.constFind(screenName);
    if (it == m_pictures.cend())
        return std::nullopt;
    return *it;
}

void FakeDesktopPictures::failWritesFor(const QString &screenName, const Error &error)
{
    m_failures.insert(screenName, error);
}

void FakePowerState::setLowPowerModeEnabled(bool enabled)
{
    m_lowPower = enabled;
    Q_EMIT powerStateChanged();
}

Result<> FakeLoginItemService::registerLoginItem()
{
    ++m_registerCalls;
    if (m_failure)
        return failure(*m_failure);
    m_status = Status::Enabled;
    return {};
}

Result<> FakeLoginItemService::unregisterLoginItem()
{
    ++m_unregisterCalls;
    if (m_failure)
        return failure(*m_failure);
    m_status = Status::NotRegistered;
    return {};
}

void FakeUserPrompts::notePrompt()
{
    if (m_activations > m_activationsSeen)
        ++m_activatedPrompts;
    m_activationsSeen = m_activations;
}

void FakeUserPrompts::presentAlert(const QString &message, const QString &informativeText)
{
    notePrompt();
    m_alerts.append({message, informativeText});
}

bool FakeUserPrompts::askQuestion(const QString &message, const QString &informativeText,
                                  const QString &, const QString &)
{
    notePrompt();
    m_questions.append({message, informativeText});
    return m_answer;
}

std::unique_ptr<GalleryPlayer> FakePlatform::createGalleryPlayer(const QUrl &url, QQuickItem *)
{
    auto player = std::make_unique<FakeGalleryPlayer>(url);
    m_galleryPlayers.append(player.get());
    return player;
}

QList<FakeGalleryPlayer *> FakePlatform::liveGalleryPlayers() const
{
    QList<FakeGalleryPlayer *> live;
    for (const auto &player : m_galleryPlayers) {
        if (player)
            live.append(player);
    }
    return live;
}

std::unique_ptr<DesktopSurface> FakePlatform::createDesktopSurface(const Screen &screen)
{
    auto surface = std::make_unique<FakeDesktopSurface>(screen);
    m_surfaces.append(surface.get());
    return surface;
}

QList<FakeDesktopSurface *> FakePlatform::liveSurfaces() const
{
    QList<FakeDesktopSurface *> live;
    for (const auto &surface : m_surfaces) {
        if (surface)
            live.append(surface);
    }
    return live;
}

FakeDesktopSurface *FakePlatform::surfaceFor(const QString &screenName) const
{
    for (FakeDesktopSurface *surface : liveSurfaces()) {
        if (surface->screen().name == screenName)
            return surface;
    }
    return nullptr;
}

} // namespace lumivale::fake
