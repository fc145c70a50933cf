#include "gallerywindow.h"

#include "contentview.h"
#include "galleryimageprovider.h"
#include "platform/linux/x11windowvisibility.h"
#include "platform/platform.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QQmlEngine>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <qpa/qwindowsysteminterface.h>

void qml_register_types_Lumivale_Gallery();

namespace lumivale {
namespace {

const QUrl kMainQml(QStringLiteral("qrc:/qt/qml/Lumivale/Gallery/Main.qml"));
// Windows moving or restacking send bursts of events; one look per burst.
constexpr int kCoverCheckDelayMs = 30;

} // namespace

GalleryWindow::GalleryWindow(QWindow *parent)
    : QQuickView(parent)
{
    setObjectName(QStringLiteral("gallery"));
    setTitle(QStringLiteral("Gallery"));
    setFlag(Qt::FramelessWindowHint);
    setResizeMode(QQuickView::SizeRootObjectToView);
    setColor(QColor(0x15, 0x17, 0x19));
    applyScreenLimits();
    connect(this, &QWindow::screenChanged, this, &GalleryWindow::applyScreenLimits);
    connect(this, &QWindow::activeChanged, this, &GalleryWindow::evaluateActivity);
    connect(&Platform::instance().workspace(), &Workspace::activeApplicationChanged, this,
            &GalleryWindow::scheduleActivityEvaluation);
    // Where the gallery's QML module lies in the resources.
    engine()->addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine()->addImageProvider(QLatin1String(GalleryImageProvider::kName),
                               new GalleryImageProvider);
}

GalleryWindow::~GalleryWindow()
{
    // The scene goes before the view model it shows.
    setSource(QUrl());
    m_content.reset();
}

QSize GalleryWindow::minimumSizeFor(const QSize &available)
{
    if (available.isEmpty())
        return kDefaultSize;
    return kDefaultSize.boundedTo(available);
}

void GalleryWindow::applyScreenLimits()
{
    const QSize minimum = minimumSizeFor(screen() ? screen()->availableSize() : QSize());
    setMinimumSize(minimum);
    if (!isVisible() && size() != minimum)
        resize(minimum);
}

void GalleryWindow::showEvent(QShowEvent *event)
{
    if (!m_content)
        loadContent();
    QQuickView::showEvent(event);
    if (!m_visibility) {
        m_visibility = std::make_unique<X11WindowVisibility>(this);
        connect(m_visibility.get(), &X11WindowVisibility::obscuredChanged, this,
                &GalleryWindow::evaluateActivity);
        connect(m_visibility.get(), &X11WindowVisibility::stackingChanged, this,
                &GalleryWindow::scheduleActivityEvaluation);
    }
    evaluateActivity();
}

bool GalleryWindow::event(QEvent *event)
{
    const bool handled = QQuickView::event(event);
    switch (event->type()) {
    case QEvent::Hide:
    case QEvent::Expose:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::Move:
    case QEvent::Resize:
        scheduleActivityEvaluation();
        break;
    case QEvent::WindowStateChange:
        Q_EMIT maximizedChanged();
        evaluateActivity();
        break;
    default:
        break;
    }
    return handled;
}

void GalleryWindow::loadContent()
{
    registerGalleryTypes();
    m_content = std::make_unique<ContentView>(ContentView::Dependencies::standard());
    setInitialProperties({{QStringLiteral("content"), QVariant::fromValue(m_content.get())},
                          {QStringLiteral("window"), QVariant::fromValue(this)}});
    setSource(kMainQml);
    if (status() == QQuickView::Error) {
        for (const QQmlError &error : errors())
            qWarning("gallery: %s", qPrintable(error.toString()));
    }
    evaluateActivity();
    m_content->appear();
}

void GalleryWindow::scheduleActivityEvaluation()
{
    if (m_evaluationScheduled)
        return;
    m_evaluationScheduled = true;
    QTimer::singleShot(kCoverCheckDelayMs, this, [this] {
        m_evaluationScheduled = false;
        evaluateActivity();
    });
}

void GalleryWindow::evaluateActivity()
{
    WindowActivity::State state;
    state.isVisible = isVisible();
    state.isMinimized =
        windowStates().testFlag(Qt::WindowMinimized) || (isVisible() && !isExposed());
    state.isObscured = m_visibility && m_visibility->isFullyObscured();
    if (state.isVisible && !state.isMinimized && !state.isObscured) {
        const auto windows = Platform::instance().workspace().windowsFrontToBack();
        state.isCovered =
            windows && WindowActivity::isCovered(frameGeometry(), quint32(winId()), *windows);
    }
    m_activity = state;
    if (m_content)
        m_content->setWindowAllowsVideoPlayback(WindowActivity::allowsVideoPlayback(state));
}

void GalleryWindow::beginMove()
{
    if (startSystemMove()) {
        // The window manager now holds the pointer and swallows the button's
        // release; the scene would keep the drag (and take the next click for
        // that release) without one. Sent once the present event is handled.
        QMetaObject::invokeMethod(
            this,
            [this] {
                const QPoint global = QCursor::pos(screen());
                QWindowSystemInterface::handleMouseEvent<
                    QWindowSystemInterface::SynchronousDelivery>(
                    this, mapFromGlobal(global), global, Qt::NoButton, Qt::LeftButton,
                    QEvent::MouseButtonRelease);
            },
            Qt::QueuedConnection);
        return;
    }
    // Qt asks _NET_SUPPORTED: without _NET_WM_MOVERESIZE the window follows
    // the pointer itself.
    m_movingByHand = true;
    m_dragStartCursor = QCursor::pos(screen());
    m_dragStartGeometry = geometry();
}

void GalleryWindow::beginResize(int edges)
{
    if (isMaximized() || edges == 0)
        return;
    if (startSystemResize(Qt::Edges(edges)))
        return;
    m_resizingByHand = Qt::Edges(edges);
    m_dragStartCursor = QCursor::pos(screen());
    m_dragStartGeometry = geometry();
}

QRect GalleryWindow::resizedGeometry(const QRect &start, Qt::Edges edges, QPoint delta,
                                     QSize minimum)
{
    QRect frame = start;
    if (edges & Qt::LeftEdge)
        frame.setLeft(std::min(start.left() + delta.x(), start.right() + 1 - minimum.width()));
    if (edges & Qt::RightEdge)
        frame.setRight(std::max(start.right() + delta.x(), start.left() + minimum.width() - 1));
    if (edges & Qt::TopEdge)
        frame.setTop(std::min(start.top() + delta.y(), start.bottom() + 1 - minimum.height()));
    if (edges & Qt::BottomEdge)
        frame.setBottom(std::max(start.bottom() + delta.y(), start.top() + minimum.height() - 1));
    return frame;
}

void GalleryWindow::toggleMaximized()
{
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void GalleryWindow::minimize()
{
    showMinimized();
}

void GalleryWindow::hideWindow()
{
    // As the window manager's close would: the application turns it into a hide.
    close();
}

void GalleryWindow::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint delta = event->globalPosition().toPoint() - m_dragStartCursor;
    if (m_movingByHand) {
        setPosition(m_dragStartGeometry.topLeft() + delta);
        event->accept();
        return;
    }
    if (m_resizingByHand) {
        setGeometry(resizedGeometry(m_dragStartGeometry, m_resizingByHand, delta, minimumSize()));
        event->accept();
        return;
    }
    QQuickView::mouseMoveEvent(event);
}

void GalleryWindow::mouseReleaseEvent(QMouseEvent *event)
{
    m_movingByHand = false;
    m_resizingByHand = {};
    QQuickView::mouseReleaseEvent(event);
}

void registerGalleryTypes()
{
    static const bool registered = [] {
        qml_register_types_Lumivale_Gallery();
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace lumivale
