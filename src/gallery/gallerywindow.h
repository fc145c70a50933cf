#pragma once

#include "windowactivity.h"

#include <QPoint>
#include <QQuickView>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace lumivale {

class ContentView;
class X11WindowVisibility;

// The gallery's window: title "Gallery", identifier (object name) "gallery",
// frameless, 1280 x 820 at first and at least that (less on a smaller
// screen). It is made hidden with the application and is only ever shown and
// hidden, never closed (the application delegate turns a close into a hide).
// Its scene and ContentView are made the first time it is shown, so a
// process that never shows it never starts the QML engine's work.
//
// The scene draws its own title area: it calls beginMove() when a drag starts
// in the top 72 pixels (the window manager moves the window, or, where it
// cannot, the window follows the pointer itself), beginResize() from the
// edges, and the window buttons' invokables.
//
// It tells ContentView whether the window can be seen: shown, not minimised,
// and not covered whole by other windows (X's visibility events without a
// compositor; the window manager's stacking list with one).
//
// Main thread only.
class GalleryWindow : public QQuickView
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application makes the gallery window")
    Q_PROPERTY(bool isMaximized READ isMaximized NOTIFY maximizedChanged)

public:
    static constexpr QSize kDefaultSize{1280, 820};
    static constexpr int kDragRegionHeight = 72;

    explicit GalleryWindow(QWindow *parent = nullptr);
    ~GalleryWindow() override;

    // Null until the window is first shown.
    ContentView *contentView() const { return m_content.get(); }
    bool isMaximized() const { return windowStates().testFlag(Qt::WindowMaximized); }
    // What the last evaluation saw.
    const WindowActivity::State &activityState() const { return m_activity; }

    // The window's smallest size on `available` (a screen's available area).
    static QSize minimumSizeFor(const QSize &available);
    // The frame after its `edges` were dragged by `delta` from `start`: the
    // edges opposite stay put, and the size stays at least `minimum`.
    static QRect resizedGeometry(const QRect &start, Qt::Edges edges, QPoint delta, QSize minimum);

    Q_INVOKABLE void beginMove();
    // `edges` is a combination of Qt::Edge values.
    Q_INVOKABLE void beginResize(int edges);
    Q_INVOKABLE void toggleMaximized();
    Q_INVOKABLE void minimize();
    Q_INVOKABLE void hideWindow();

Q_SIGNALS:
    void maximizedChanged();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void loadContent();
    void applyScreenLimits();
    void evaluateActivity();
    void scheduleActivityEvaluation();

    std::unique_ptr<ContentView> m_content;
    WindowActivity::State m_activity;
    std::unique_ptr<X11WindowVisibility> m_visibility;
    bool m_evaluationScheduled = false;
    // The move or resize by hand, where the window manager cannot do it
    // (no _NET_WM_MOVERESIZE in its _NET_SUPPORTED): the window follows the
    // pointer until the button goes up.
    bool m_movingByHand = false;
    Qt::Edges m_resizingByHand;
    QPoint m_dragStartCursor;
    QRect m_dragStartGeometry;
};

// Registers the C++ types of the QML module "Lumivale.Gallery". Safe to call
// more than once; GUI thread. GalleryWindow calls it before it loads the
// scene; tests that load the module's files themselves call it first.
void registerGalleryTypes();

} // namespace lumivale
