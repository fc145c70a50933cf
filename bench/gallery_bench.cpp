// Measures the gallery's video surface against the mpv command line on the
// same file and X server. Run it through bench/gallery, which sets up the X
// server and the clip.
//
// Usage: lumivale_bench_gallery CLIP.mp4
// (It runs itself as `--surface CLIP.mp4` and `--idle CLIP.mp4` for the
// figures that need a process of their own.)

#include "app/runtime.h"
#include "benchsupport.h"
#include "desktop/wallpapermanager.h"
#include "gallery/videosurface.h"
#include "platform/linux/mpvvideoitem.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>

using namespace lumivale;
using namespace lumivale::bench;

namespace {

constexpr QSize kSurfaceSize(1280, 640);
constexpr int kWarmUpMs = 3000;
constexpr int kMeasureMs = 10000;
constexpr int kIdleMs = 30000;

// Share of one core that a child process used over the measuring window.
double childCpu(QProcess &process)
{
    if (!process.waitForStarted())
        return -1;
    QThread::msleep(kWarmUpMs);
    const auto pid = pid_t(process.processId());
    const double before = processCpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    QThread::msleep(kMeasureMs);
    const double after = processCpuSeconds(pid);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    process.terminate();
    process.waitForFinished();
    return before < 0 || after < 0 ? -1 : (after - before) / seconds;
}

double mpvCpu(const QString &clip)
{
    QProcess mpv;
    mpv.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mpv.setStandardOutputFile(QProcess::nullDevice());
    mpv.start(QStringLiteral("mpv"),
              {QStringLiteral("--no-config"), QStringLiteral("--vo=gpu"),
               QStringLiteral("--geometry=1280x640+0+0"), QStringLiteral("--no-border"),
               QStringLiteral("--loop-file=inf"), QStringLiteral("--no-audio"),
               QStringLiteral("--really-quiet"), QStringLiteral("--osc=no"),
               QStringLiteral("--panscan=1.0"), clip});
    return childCpu(mpv);
}

// This program in `--surface` mode, with the render path forced or not.
double surfaceCpu(const QString &clip, const QString &path)
{
    QProcess surface;
    surface.setProcessChannelMode(QProcess::ForwardedChannels);
    auto environment = QProcessEnvironment::systemEnvironment();
    if (path.isEmpty())
        environment.remove(QStringLiteral("LUMIVALE_GALLERY_RENDER"));
    else
        environment.insert(QStringLiteral("LUMIVALE_GALLERY_RENDER"), path);
    surface.setProcessEnvironment(environment);
    surface.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--surface"), clip});
    return childCpu(surface);
}

// One surface at 1280x640 playing the clip, until terminated.
int runSurface(const QString &clip)
{
    QQuickWindow window;
    window.setFlag(Qt::FramelessWindowHint);
    window.setGeometry(QRect(QPoint(0, 0), kSurfaceSize));
    auto *surface = new VideoSurface(window.contentItem());
    surface->setSize(kSurfaceSize);
    surface->setUrl(QUrl::fromLocalFile(clip));
    surface->setPlaying(true);
    window.show();
    return QCoreApplication::exec();
}

// The process as it idles: the gallery window hidden, its surface paused on
// its frame, and the desktop wallpaper paused.
double idleCpu(const QString &clip)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    WallpaperManager manager(Platform::instance(), defaults);
    manager.apply(QUrl::fromLocalFile(clip), QStringLiteral("bench"));

    QQuickWindow gallery;
    gallery.setGeometry(QRect(QPoint(0, 0), kSurfaceSize));
    auto *surface = new VideoSurface(gallery.contentItem());
    surface->setSize(kSurfaceSize);
    surface->setUrl(QUrl::fromLocalFile(clip));
    surface->setPlaying(true);
    gallery.show();
    waitUntil([&] { return surface->state() == VideoSurface::State::Ready; }, 10000);
    spin(1000);

    surface->setPlaying(false);
    gallery.hide();
    manager.pauseAll();
    spin(2000);
    return ownCpuOver(kIdleMs);
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == u"--surface")
        return runSurface(args[2]);
    if (args.size() == 3 && args[1] == u"--idle") {
        std::printf("%.3f\n", idleCpu(args[2]) * 100);
        return 0;
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s CLIP.mp4\n", argv[0]);
        return 2;
    }
    const QString clip = args[1];

    std::printf("gl_renderer: %s\n", qPrintable(openGLRendererName()));
    std::fflush(stdout);
    const double mpv = mpvCpu(clip);
    const double chosen = surfaceCpu(clip, {});
    const double gl = surfaceCpu(clip, QStringLiteral("gl"));
    const double sw = surfaceCpu(clip, QStringLiteral("sw"));
    std::printf("mpv_cpu_percent: %.1f\n", mpv * 100);
    std::printf("surface_cpu_percent: %.1f\n", chosen * 100);
    std::printf("surface_cpu_ratio_vs_mpv: %.2f\n", chosen / mpv);
    std::printf("surface_cpu_ratio_gl_path: %.2f\n", gl / mpv);
    std::printf("surface_cpu_ratio_sw_path: %.2f\n", sw / mpv);
    std::fflush(stdout);

    QProcess idle;
    idle.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    idle.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--idle"), clip});
    idle.waitForFinished(kIdleMs + 60000);
    std::printf("idle_cpu_percent_hidden: %s\n",
                idle.readAllStandardOutput().trimmed().constData());
    return 0;
}
