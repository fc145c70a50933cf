#include "gallerywindowcontroller.h"

#include "platform/desktopsurface.h"
#include "platform/notificationcenter.h"
#include "platform/userprompts.h"

#include <QEvent>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QWindow>

namespace lumivale {

GalleryWindowController::GalleryWindowController(UserPrompts &prompts, WindowList windows,
                                                 QObject *parent)
    : QObject(parent)
    , m_prompts(prompts)
    , m_windows(windows ? std::move(windows) : WindowList(applicationWindows))
{}

GalleryWindowController::~GalleryWindowController()
{
    for (QWindow *window : std::as_const(m_watched))
        window->removeEventFilter(this);
}

QList<QWindow *> GalleryWindowController::applicationWindows()
{
    QList<QWindow *> windows;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->property(DesktopSurface::kWindowProperty).toBool())
            continue;
        const Qt::WindowType type = window->type();
        if (type == Qt::Window || type == Qt::Dialog)
            windows.append(window);
    }
    return windows;
}

void GalleryWindowController::configure(QWindow *window)
{
    // The window manager draws the title bar on Linux; what the gallery
    // controls is its black, opaque-free background under the content.
    if (auto *quickWindow = qobject_cast<QQuickWindow *>(window))
        quickWindow->setColor(Qt::black);
    if (window->title().isEmpty())
        window->setTitle(kTitle);
}

void GalleryWindowController::watch(QWindow *window)
{
    if (m_watched.contains(window))
        return;
    m_watched.insert(window);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this, window] { m_watched.remove(window); });
}

bool GalleryWindowController::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the gallery hides it; the window is never destroyed.
    if (event->type() == QEvent::Close) {
        if (auto *window = qobject_cast<QWindow *>(watched); window && m_watched.contains(window)) {
            event->ignore();
            window->hide();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void GalleryWindowController::show()
{
    m_prompts.activateApplication();
    const QList<QWindow *> windows = m_windows();
    if (windows.isEmpty())
        return;
    QWindow *gallery = windows.first();
    for (QWindow *window : windows) {
        if (window->objectName() == kIdentifier) {
            gallery = window;
            break;
        }
    }
    watch(gallery);
    configure(gallery);
    gallery->show();
    gallery->raise();
    gallery->requestActivate();
    Q_EMIT NotificationCenter::shared().refreshWallpaperLibrary();
}

void GalleryWindowController::hideAll()
{
    for (QWindow *window : m_windows()) {
        if (window->objectName() == kIdentifier || window->title() == kTitle) {
            watch(window);
            configure(window);
            window->hide();
        }
    }
}

} // namespace lumivale
