#include "desktoprenderpath.h"

#include "mpvvideoitem.h"

namespace lumivale {

DesktopRenderPath chooseDesktopRenderPath(QByteArrayView forced, const QString &openGLRenderer)
{
    if (forced == "gl")
        return DesktopRenderPath::OpenGL;
    if (forced == "sw")
        return DesktopRenderPath::Software;
    const QString renderer = openGLRenderer.toLower();
    if (renderer.isEmpty())
        return DesktopRenderPath::Software;
    for (const char *software : {"llvmpipe", "softpipe", "swrast"}) {
        if (renderer.contains(QLatin1String(software)))
            return DesktopRenderPath::Software;
    }
    return DesktopRenderPath::OpenGL;
}

namespace {

QByteArray forcedPath()
{
    return qgetenv("LUMIVALE_RENDER");
}

bool isForced()
{
    const QByteArray forced = forcedPath();
    return forced == "gl" || forced == "sw";
}

} // namespace

DesktopRenderPath desktopRenderPath()
{
    static const DesktopRenderPath path = [] {
        const QByteArray forced = forcedPath();
        return chooseDesktopRenderPath(forced, isForced() ? QString() : openGLRendererName());
    }();
    return path;
}

QString desktopRenderDescription()
{
    const QString name = desktopRenderPath() == DesktopRenderPath::Software
                             ? QStringLiteral("software")
                             : QStringLiteral("opengl");
    if (isForced())
        return name + QStringLiteral(" (forced)");
    const QString renderer = openGLRendererName();
    return renderer.isEmpty() ? name + QStringLiteral(" (no OpenGL)")
                              : QStringLiteral("%1 (%2)").arg(name, renderer);
}

} // namespace lumivale
