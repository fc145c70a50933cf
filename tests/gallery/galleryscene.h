#pragma once

// What the window tests share: finding items of the scene, and
// screenshots for review. Main thread.

#include "support/xsession.h"

#include <QDir>
#include <QQuickItem>
#include <functional>

namespace lumivale::test {

// The first item from `root` down that `matches`.
inline QQuickItem *findItem(QQuickItem *root, const std::function<bool(QQuickItem *)> &matches)
{
    if (matches(root))
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, matches))
            return found;
    }
    return nullptr;
}

// The first visible one of that name.
inline QQuickItem *findItem(QQuickItem *root, const QString &objectName)
{
    return findItem(root, [&](QQuickItem *item) {
        return item->objectName() == objectName && item->isVisible();
    });
}

// The screen's `area` saved as `name` in $LUMIVALE_SCREENSHOT_DIR, else in the
// build's folder, which the log names.
inline bool saveScreenshot(const QString &name, const QRect &area)
{
    const QString folder =
        qEnvironmentVariable("LUMIVALE_SCREENSHOT_DIR", QStringLiteral(LUMIVALE_SCREENSHOT_DIR));
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(name);
    qInfo("screenshot: %s", qPrintable(path));
    return XSession::grab(area).save(path, "PNG");
}

} // namespace lumivale::test
