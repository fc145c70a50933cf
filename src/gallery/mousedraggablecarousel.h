#pragma once

#include "platform/delayclock.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QtQml/qqmlregistration.h>
#include <memory>
#include <vector>

namespace lumivale {

// The flag that keeps a carousel gesture from also counting as a click on a
// card. All carousels of a page share one: a drag or a wheel turn on any row
// raises it, and it comes down once the last scheduled lowering is due, so a
// late lowering of one gesture never cuts another gesture's short.
//
// Main thread only; the clock must outlive the object.
class CarouselTapSuppression : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the home view model")
    Q_PROPERTY(bool isActive READ isActive NOTIFY isActiveChanged)

public:
    explicit CarouselTapSuppression(DelayClock &clock, QObject *parent = nullptr);
    ~CarouselTapSuppression() override;

    bool isActive() const { return m_isActive; }
    void raise();
    // Lowers the flag `delayMs` from now, unless another lowering is still
    // pending then.
    void lowerAfter(int delayMs);

Q_SIGNALS:
    void isActiveChanged();

private:
    void setActive(bool active);

    DelayClock &m_clock;
    bool m_isActive = false;
    std::vector<std::unique_ptr<PendingCall>> m_lowerings;
    int m_pendingCount = 0;
};

// The position of one horizontally draggable strip of cards: `offset` is how
// far the strip is moved (0 or negative), kept between
// min(viewportWidth - contentWidth, 0) and 0, so the content never leaves its
// start and stops when its end meets the viewport's end. The view draws the
// strip at `offset` and feeds the gestures in:
//
// - A mouse drag counts from kDragMinimumDistance pixels and moves the strip
//   only while it is mostly horizontal (|tx| > |ty|); beyond kTapSlop
//   horizontal pixels it suppresses taps, until kDragTapSuppressionMs after
//   it ends. Wherever it ends, the offset it reached stays (so the next drag
//   starts from what is shown).
// - A wheel or trackpad event that is mostly horizontal, or a vertical one
//   with Shift, moves the strip as a horizontal Qt list would and
//   suppresses taps for kWheelTapSuppressionMs; anything else is declined and
//   belongs to the page.
// - A change of either width clamps the offset again.
//
// Main thread only. The tap suppression is shared and must outlive the
// carousel (or be cleared first).
class MouseDraggableCarousel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(
        qreal viewportWidth READ viewportWidth WRITE setViewportWidth NOTIFY viewportWidthChanged)
    Q_PROPERTY(
        qreal contentWidth READ contentWidth WRITE setContentWidth NOTIFY contentWidthChanged)
    Q_PROPERTY(qreal offset READ offset NOTIFY offsetChanged)
    Q_PROPERTY(lumivale::CarouselTapSuppression *tapSuppression READ tapSuppression WRITE
                   setTapSuppression NOTIFY tapSuppressionChanged)

public:
    static constexpr qreal kDragMinimumDistance = 3;
    static constexpr qreal kTapSlop = 6;
    static constexpr int kDragTapSuppressionMs = 180;
    static constexpr int kWheelTapSuppressionMs = 120;

    explicit MouseDraggableCarousel(QObject *parent = nullptr);
    ~MouseDraggableCarousel() override;

    qreal viewportWidth() const { return m_viewportWidth; }
    void setViewportWidth(qreal width);
    qreal contentWidth() const { return m_contentWidth; }
    void setContentWidth(qreal width);
    qreal offset() const { return m_offset; }
    qreal settledOffset() const { return m_settledOffset; }
    CarouselTapSuppression *tapSuppression() const { return m_tapSuppression; }
    void setTapSuppression(CarouselTapSuppression *suppression);

    // `x` kept within the bounds of the current widths.
    qreal clamped(qreal x) const;

    // The pointer moved by (tx, ty) since the press. Below the minimum
    // distance nothing happens.
    Q_INVOKABLE void dragChanged(qreal tx, qreal ty);
    // The button came up at (tx, ty) from the press.
    Q_INVOKABLE void dragEnded(qreal tx, qreal ty);
    // Whether a press and release this far apart opens the card under them.
    Q_INVOKABLE bool isTap(qreal tx, qreal ty) const;
    // One wheel event: `pixelDelta` when the device gives it, else
    // `angleDelta` (eighths of a degree). True when the strip took it.
    Q_INVOKABLE bool wheel(QPointF pixelDelta, QPointF angleDelta, int modifiers);

    // How far one wheel notch (120 eighths of a degree) moves a list.
    static qreal pixelsPerWheelNotch();
    // The vertical distance a page scrolls for one wheel event (positive:
    // towards the end), as wheel() measures it.
    static qreal pageScrollDelta(QPointF pixelDelta, QPointF angleDelta);

Q_SIGNALS:
    void viewportWidthChanged();
    void contentWidthChanged();
    void offsetChanged();
    void tapSuppressionChanged();

private:
    void setOffset(qreal offset);
    void settle(qreal offset);

    qreal m_viewportWidth = 0;
    qreal m_contentWidth = 0;
    qreal m_offset = 0;
    qreal m_settledOffset = 0;
    bool m_dragging = false;
    QPointer<CarouselTapSuppression> m_tapSuppression;
};

} // namespace lumivale
