// Measures desktop playback against the mpv command line on the same file and
// screen. Run it through bench/playback, which sets up the X server and media.
//
// Usage: lumivale_bench_playback MOTION.mp4 RED.mp4 BLUE.mp4

#include "app/runtime.h"
#include "benchsupport.h"
#include "desktop/wallpapermanager.h"
#include "platform/linux/mpvcore.h"
#include "platform/linux/x11desktopsurface.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

using namespace lumivale;
using namespace lumivale::bench;

namespace {

constexpr int kMeasureMs = 10000;
constexpr int kHandOvers = 20;
const QRect kProbeArea(600, 320, 80, 80);

double mpvCpu(const QString &file)
{
    QProcess mpv;
    mpv.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mpv.setStandardOutputFile(QProcess::nullDevice());
    mpv.start(QStringLiteral("mpv"),
              {QStringLiteral("--no-config"), QStringLiteral("--vo=gpu"),
               QStringLiteral("--gpu-context=x11egl"), QStringLiteral("--fs"),
               QStringLiteral("--loop-file=inf"), QStringLiteral("--no-audio"),
               QStringLiteral("--really-quiet"), QStringLiteral("--osc=no"),
               QStringLiteral("--panscan=1.0"), file});
    if (!mpv.waitForStarted())
        return -1;
    QThread::msleep(3000);
    const double before = processCpuSeconds(pid_t(mpv.processId()));
    QElapsedTimer wall;
    wall.start();
    QThread::msleep(kMeasureMs);
    const double after = processCpuSeconds(pid_t(mpv.processId()));
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    mpv.terminate();
    mpv.waitForFinished();
    return before < 0 || after < 0 ? -1 : (after - before) / seconds;
}

struct HandOverResult
{
    qint64 visibleMs = -1;
    int blackSamples = 0;
};

// Applies `to` over what shows now and watches the screen from another thread
// until the new colour appears.
HandOverResult handOver(WallpaperManager &manager, const QString &to, bool (*isNew)(const QColor &))
{
    HandOverResult result;
    std::atomic_bool done = false;
    std::atomic<qint64> firstNewMs = -1;
    std::atomic_int black = 0;
    QElapsedTimer clock;
    std::thread watcher([&] {
        ScreenProbe probe;
        while (!done) {
            const QColor color = probe.meanColor(kProbeArea);
            if (isBlack(color))
                ++black;
            if (isNew(color) && firstNewMs < 0)
                firstNewMs = clock.elapsed();
        }
    });
    clock.start();
    manager.apply(QUrl::fromLocalFile(to), QStringLiteral("bench"));
    waitUntil([&] { return firstNewMs >= 0; }, 10000);
    spin(200); // and a little after, for any late black frame
    done = true;
    watcher.join();
    result.visibleMs = firstNewMs;
    result.blackSamples = black;
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: %s MOTION.mp4 RED.mp4 BLUE.mp4\n", argv[0]);
        return 2;
    }
    const QString motion = args[1], red = args[2], blue = args[3];

    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    auto manager = std::make_unique<WallpaperManager>(Platform::instance(), defaults);

    manager->apply(QUrl::fromLocalFile(motion), QStringLiteral("motion"));
    {
        ScreenProbe probe;
        waitUntil([&] { return !isBlack(probe.meanColor(kProbeArea)); }, 10000);
    }
    spin(2000);
    const double ours = ownCpuOver(kMeasureMs);

    manager->pauseAll();
    spin(1000);
    const double paused = ownCpuOver(5000);
    manager->playAll();

    for (const auto &[id, window] : manager->windows())
        window->close();
    spin(1000);
    const double hidden = ownCpuOver(5000);

    manager->apply(QUrl::fromLocalFile(red), QStringLiteral("red"));
    {
        ScreenProbe probe;
        waitUntil([&] { return isRed(probe.meanColor(kProbeArea)); }, 10000);
    }
    spin(500);
    QList<qint64> visible;
    int black = 0;
    for (int i = 0; i < kHandOvers; ++i) {
        const bool toBlue = i % 2 == 0;
        const HandOverResult result =
            handOver(*manager, toBlue ? blue : red, toBlue ? isBlue : isRed);
        visible.append(result.visibleMs);
        black += result.blackSamples;
        spin(300);
    }
    std::sort(visible.begin(), visible.end());

    manager.reset();
    waitUntil([] { return X11DesktopSurface::pendingDisposals() == 0; }, 10000);
    waitUntil([] { return MpvCore::pendingTerminations() == 0; }, 10000);

    const double reference = mpvCpu(motion);

    std::printf("ours_cpu_percent: %.1f\n", ours * 100);
    std::printf("mpv_cpu_percent: %.1f\n", reference * 100);
    std::printf("cpu_ratio_vs_mpv: %.2f\n", reference > 0 ? ours / reference : -1.0);
    std::printf("paused_cpu_percent: %.2f\n", paused * 100);
    std::printf("hidden_cpu_percent: %.2f\n", hidden * 100);
    std::printf("handover_visible_ms: %lld\n", static_cast<long long>(visible[visible.size() / 2]));
    std::printf("handover_visible_ms_max: %lld\n", static_cast<long long>(visible.last()));
    std::printf("black_frames: %d\n", black);
    return 0;
}
