#include "quitcoordinator.h"

#include "desktop/wallpapermanager.h"
#include "platform/error.h"
#include "platform/platform.h"

#include <QPointer>
#include <QTimer>

namespace lumivale {

QuitCoordinator::QuitCoordinator(WallpaperManager &manager, Platform &platform,
                                 std::chrono::milliseconds freezeLimit,
                                 std::function<void()> exitApplication, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_platform(platform)
    , m_freezeLimit(freezeLimit)
    , m_exitApplication(std::move(exitApplication))
{}

void QuitCoordinator::requestTermination()
{
    // A request once ready needs nothing more: the exit was asked for when the
    // freeze ended.
    applicationShouldTerminate();
}

QuitCoordinator::Reply QuitCoordinator::applicationShouldTerminate()
{
    switch (m_state) {
    case State::Ready:
        return Reply::Now;
    case State::Idle:
        m_state = State::Freezing;
        freezeThenFinish();
        break;
    case State::Freezing:
        // Joins the freeze under way: the reply comes once, when it ends.
        break;
    }
    return Reply::Later;
}

QCoro::Task<> QuitCoordinator::freezeThenFinish()
{
    // A freeze that hangs (a wedged desktop-picture service, a huge video)
    // must not keep the process alive: past the limit it quits without it.
    QTimer::singleShot(m_freezeLimit, this, [this] {
        if (m_state == State::Ready)
            return;
        logFailure(u"freeze wallpaper before quit failed:",
                   Error(QStringLiteral("WallpaperManager"), 4,
                         QStringLiteral("The frame was not frozen within %1 s")
                             .arg(double(m_freezeLimit.count()) / 1000.0)));
        finish();
    });
    const QPointer<QuitCoordinator> self(this);
    const Result<> frozen = co_await m_manager.freezeCurrentFrame();
    if (!self || m_state == State::Ready)
        co_return;
    if (!frozen)
        logFailure(u"freeze wallpaper before quit failed:", frozen.error());
    finish();
}

void QuitCoordinator::finish()
{
    // The desktop's own window comes back over the frozen frame.
    m_platform.restoreDesktop();
    m_state = State::Ready;
    Q_EMIT readyToTerminate();
    if (m_closeCommandSocket)
        m_closeCommandSocket();
    if (m_exitApplication)
        m_exitApplication();
}

} // namespace lumivale
