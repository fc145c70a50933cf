#include "pointer.h"

#include "xsession.h"

#include <QTest>

namespace lumivale::test {
namespace {

QStringList moveTo(QPoint at)
{
    return {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())};
}

} // namespace

bool xdotool(const QStringList &arguments)
{
    int exitCode = -1;
    XSession::run(QStringLiteral("xdotool"), arguments, &exitCode);
    return exitCode == 0;
}

bool movePointer(QPoint at)
{
    return xdotool(moveTo(at));
}

bool clickAt(QPoint at)
{
    return xdotool(moveTo(at) << QStringLiteral("click") << QStringLiteral("1"));
}

bool dragPointer(QPoint from, QPoint to, int steps, int stepMs, bool release)
{
    bool ok = xdotool(moveTo(from) << QStringLiteral("mousedown") << QStringLiteral("1"));
    for (int step = 1; step <= steps && ok; ++step) {
        QTest::qWait(stepMs);
        ok = movePointer(from + (to - from) * step / steps);
    }
    QTest::qWait(stepMs);
    return ok && (!release || xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
}

bool turnWheel(QPoint at, int button, int clicks, const QString &modifier)
{
    QStringList arguments = moveTo(at);
    if (!modifier.isEmpty())
        arguments << QStringLiteral("keydown") << modifier;
    arguments << QStringLiteral("click") << QStringLiteral("--repeat") << QString::number(clicks)
              << QStringLiteral("--delay") << QStringLiteral("20") << QString::number(button);
    if (!modifier.isEmpty())
        arguments << QStringLiteral("keyup") << modifier;
    return xdotool(arguments);
}

} // namespace lumivale::test
