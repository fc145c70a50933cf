#include "mousedraggablecarousel.h"

#include <QGuiApplication>
#include <QStyleHints>
#include <algorithm>
#include <cmath>

namespace lumivale {
namespace {

// The device's own distance when it gives one, else the notches turned.
QPointF wheelDistance(QPointF pixelDelta, QPointF angleDelta)
{
    if (!pixelDelta.isNull())
        return pixelDelta;
    return angleDelta / 120.0 * MouseDraggableCarousel::pixelsPerWheelNotch();
}

} // namespace

CarouselTapSuppression::CarouselTapSuppression(DelayClock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{}

CarouselTapSuppression::~CarouselTapSuppression() = default;

void CarouselTapSuppression::raise()
{
    setActive(true);
}

void CarouselTapSuppression::lowerAfter(int delayMs)
{
    // The handles of lowerings that have all run are dropped here, not from
    // inside their own calls.
    if (m_pendingCount == 0)
        m_lowerings.clear();
    ++m_pendingCount;
    m_lowerings.push_back(m_clock.callAfter(delayMs, [this] {
        if (--m_pendingCount == 0)
            setActive(false);
    }));
}

void CarouselTapSuppression::setActive(bool active)
{
    if (active == m_isActive)
        return;
    m_isActive = active;
    Q_EMIT isActiveChanged();
}

MouseDraggableCarousel::MouseDraggableCarousel(QObject *parent)
    : QObject(parent)
{}

MouseDraggableCarousel::~MouseDraggableCarousel() = default;

void MouseDraggableCarousel::setViewportWidth(qreal width)
{
    if (width == m_viewportWidth)
        return;
    m_viewportWidth = width;
    Q_EMIT viewportWidthChanged();
    settle(clamped(m_offset));
}

void MouseDraggableCarousel::setContentWidth(qreal width)
{
    if (width == m_contentWidth)
        return;
    m_contentWidth = width;
    Q_EMIT contentWidthChanged();
    settle(clamped(m_offset));
}

void MouseDraggableCarousel::setTapSuppression(CarouselTapSuppression *suppression)
{
    if (suppression == m_tapSuppression)
        return;
    m_tapSuppression = suppression;
    Q_EMIT tapSuppressionChanged();
}

qreal MouseDraggableCarousel::clamped(qreal x) const
{
    const qreal lower = std::min(m_viewportWidth - m_contentWidth, qreal(0));
    return std::min(std::max(x, lower), qreal(0));
}

void MouseDraggableCarousel::dragChanged(qreal tx, qreal ty)
{
    if (!m_dragging && std::hypot(tx, ty) < kDragMinimumDistance)
        return;
    m_dragging = true;
    if (std::abs(tx) <= std::abs(ty))
        return;
    if (std::abs(tx) > kTapSlop && m_tapSuppression)
        m_tapSuppression->raise();
    setOffset(clamped(m_settledOffset + tx));
}

void MouseDraggableCarousel::dragEnded(qreal tx, qreal ty)
{
    if (!m_dragging && std::hypot(tx, ty) < kDragMinimumDistance)
        return;
    m_dragging = false;
    // A drag that ends mostly vertical keeps what it showed last, so the
    // next one does not jump back.
    settle(std::abs(tx) > std::abs(ty) ? clamped(m_settledOffset + tx) : m_offset);
    if (m_tapSuppression && m_tapSuppression->isActive())
        m_tapSuppression->lowerAfter(kDragTapSuppressionMs);
}

bool MouseDraggableCarousel::isTap(qreal tx, qreal ty) const
{
    return std::abs(tx) <= kTapSlop && std::abs(ty) <= kTapSlop &&
           !(m_tapSuppression && m_tapSuppression->isActive());
}

bool MouseDraggableCarousel::wheel(QPointF pixelDelta, QPointF angleDelta, int modifiers)
{
    QPointF delta = wheelDistance(pixelDelta, angleDelta);
    if ((modifiers & Qt::ShiftModifier) && std::abs(delta.y()) > std::abs(delta.x()))
        delta = delta.transposed();
    if (!(std::abs(delta.y()) < std::abs(delta.x())))
        return false;
    if (m_tapSuppression)
        m_tapSuppression->raise();
    // As in Qt's lists: turning towards the start shows what lies before.
    settle(clamped(m_settledOffset + delta.x()));
    if (m_tapSuppression)
        m_tapSuppression->lowerAfter(kWheelTapSuppressionMs);
    return true;
}

qreal MouseDraggableCarousel::pixelsPerWheelNotch()
{
    // Qt's scroll areas: a notch is three lines of 20 pixels.
    const int lines = QGuiApplication::styleHints()->wheelScrollLines();
    return 20.0 * (lines > 0 ? lines : 3);
}

qreal MouseDraggableCarousel::pageScrollDelta(QPointF pixelDelta, QPointF angleDelta)
{
    return -wheelDistance(pixelDelta, angleDelta).y();
}

void MouseDraggableCarousel::setOffset(qreal offset)
{
    if (offset == m_offset)
        return;
    m_offset = offset;
    Q_EMIT offsetChanged();
}

void MouseDraggableCarousel::settle(qreal offset)
{
    setOffset(offset);
    m_settledOffset = offset;
}

} // namespace lumivale
