#pragma once

#include <QPoint>
#include <QStringList>

namespace lumivale::test {

// Real input through XTest (the xdotool tool), on the X server of DISPLAY.

// One xdotool command line; true when it succeeded.
bool xdotool(const QStringList &arguments);
bool movePointer(QPoint at);
bool clickAt(QPoint at);
// Presses at `from`, moves to `to` in `steps` moves `stepMs` apart, and
// releases unless `release` is false (the caller then sends the release).
bool dragPointer(QPoint from, QPoint to, int steps = 10, int stepMs = 15, bool release = true);
// Wheel "buttons" at `at`: 4 up, 5 down, 6 left, 7 right; `modifier` is held
// meanwhile ("shift"), when given.
bool turnWheel(QPoint at, int button, int clicks = 1, const QString &modifier = {});

} // namespace lumivale::test
