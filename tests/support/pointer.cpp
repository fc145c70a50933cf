#include "pointer.h"

#include "xsession.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace lumivale::test {
namespace {

QStringList moveTo(QPoint at)
{
    return {u"mousemove"_s, QString::number(at.x()), QString::number(at.y())};
}

} // namespace

bool xdotool(const QStringList &arguments)
{
    return XSession::succeeds(u"xdotool"_s, arguments);
}

bool movePointer(QPoint at)
{
    return xdotool(moveTo(at));
}

bool clickAt(QPoint at)
{
    return xdotool(moveTo(at) << u"click"_s << u"1"_s);
}

bool dragPointer(QPoint from, QPoint to, int steps, int stepMs, bool release)
{
    bool ok = xdotool(moveTo(from) << u"mousedown"_s << u"1"_s);
    for (int step = 1; step <= steps && ok; ++step) {
        QTest::qWait(stepMs);
        ok = movePointer(from + (to - from) * step / steps);
    }
    QTest::qWait(stepMs);
    return ok && (!release || xdotool({u"mouseup"_s, u"1"_s}));
}

bool turnWheel(QPoint at, int button, int clicks, const QString &modifier)
{
    QStringList arguments = moveTo(at);
    if (!modifier.isEmpty())
        arguments << u"keydown"_s << modifier;
    arguments << u"click"_s << u"--repeat"_s << QString::number(clicks) << u"--delay"_s << u"20"_s
              << QString::number(button);
    if (!modifier.isEmpty())
        arguments << u"keyup"_s << modifier;
    return xdotool(arguments);
}

} // namespace lumivale::test
