#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <functional>

class QWindow;

namespace lumivale {

class UserPrompts;

// How the gallery behaves as a window of the tray application: found among
// the application's windows each time (no reference is kept across calls),
// shown and brought to the front with a reload of the catalogue, hidden at a
// login launch, and hidden instead of closed, so that it is never destroyed
// and the process keeps running with no window.
//
// Main thread only. The prompts are borrowed and must outlive the controller;
// the windows belong to the application. The controller filters the close
// events of the windows it has handled and stops when it is destroyed or a
// window goes away. Nothing here fails: with no window at all, show() does
// nothing and posts no reload.
class GalleryWindowController : public QObject
{
public:
    // The application's top-level windows in the order it lists them.
    using WindowList = std::function<QList<QWindow *>()>;

    static inline const QString kIdentifier = QStringLiteral("gallery");
    static inline const QString kTitle = QStringLiteral("Gallery");

    GalleryWindowController(UserPrompts &prompts, WindowList windows, QObject *parent = nullptr);
    ~GalleryWindowController() override;

    // Brings the application to the front, then shows the window named
    // "gallery" (else the first window) and asks the gallery to reload.
    void show();
    // Hides every window named "gallery" or titled "Gallery"; no reload.
    void hideAll();

    // The application's windows, desktop surfaces and menus left out.
    static QList<QWindow *> applicationWindows();

private:
    void configure(QWindow *window);
    void watch(QWindow *window);
    bool eventFilter(QObject *watched, QEvent *event) override;

    UserPrompts &m_prompts;
    WindowList m_windows;
    QSet<QWindow *> m_watched;
};

} // namespace lumivale
