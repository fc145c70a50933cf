// Measures desktop playback against references on the same file and screen,
// on the render path this process chose (LUMIVALE_RENDER=gl|sw forces one).
// Run it through bench/playback, which sets up the X server and media.
//
// Usage: lumivale_bench_playback MOTION.mp4 RED.mp4 BLUE.mp4 [UHD.mp4]
//        lumivale_bench_playback --rss-after FIRST.mp4|- THEN.mp4
//        lumivale_bench_playback --two-screens MOTION.mp4   (on a 2560x720 screen)

#include "app/runtime.h"
#include "benchsupport.h"
#include "desktop/wallpapermanager.h"
#include "platform/linux/desktoprenderpath.h"
#include "platform/linux/mpvcore.h"
#include "platform/linux/x11desktopsurface.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
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
constexpr int kMemoryHandOvers = 200;
const QRect kProbeArea(600, 320, 80, 80);

// Share of one core another program uses on `file` once it has settled.
double referenceCpu(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted())
        return -1;
    QThread::msleep(3000);
    const double before = processCpuSeconds(pid_t(process.processId()));
    QElapsedTimer wall;
    wall.start();
    QThread::msleep(kMeasureMs);
    const double after = processCpuSeconds(pid_t(process.processId()));
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    process.terminate();
    process.waitForFinished();
    return before < 0 || after < 0 ? -1 : (after - before) / seconds;
}

double mpvCpu(const QString &file, const QString &output)
{
    QStringList arguments{QStringLiteral("--no-config"), QStringLiteral("--vo=") + output};
    if (output == QLatin1String("gpu"))
        arguments << QStringLiteral("--gpu-context=x11egl");
    arguments << QStringLiteral("--fs") << QStringLiteral("--loop-file=inf")
              << QStringLiteral("--no-audio") << QStringLiteral("--really-quiet")
              << QStringLiteral("--osc=no") << QStringLiteral("--panscan=1.0") << file;
    return referenceCpu(QStringLiteral("mpv"), arguments);
}

// The decode floor: the file decoded in real time and thrown away.
double decodeCpu(const QString &file)
{
    return referenceCpu(QStringLiteral("ffmpeg"),
                        {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                         QStringLiteral("error"), QStringLiteral("-re"),
                         QStringLiteral("-stream_loop"), QStringLiteral("-1"), QStringLiteral("-i"),
                         file, QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
}

double ratio(double ours, double reference)
{
    return ours >= 0 && reference > 0 ? ours / reference : -1.0;
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

// Applies `file` and returns once every window shows it and the players it
// replaced are gone.
void applyAndSettle(WallpaperManager &manager, const QString &file)
{
    const QUrl url = QUrl::fromLocalFile(file);
    manager.apply(url, QStringLiteral("bench"));
    waitUntil(
        [&] {
            return std::all_of(
                manager.windows().begin(), manager.windows().end(), [&](const auto &entry) {
                    return entry.second->currentVideoURL() == url && !entry.second->pendingPlayer();
                });
        },
        10000);
    waitUntil([] { return X11DesktopSurface::pendingDisposals() == 0; }, 10000);
    waitUntil([] { return MpvCore::pendingTerminations() == 0; }, 10000);
}

// Resident memory after `first` (if any) and then `then` played a while.
int measureResidentAfter(const QString &first, const QString &then)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    auto manager = std::make_unique<WallpaperManager>(Platform::instance(), defaults);
    if (first != QLatin1String("-")) {
        applyAndSettle(*manager, first);
        spin(3000);
    }
    applyAndSettle(*manager, then);
    spin(3000);
    std::printf("rss_mb: %.1f\n", residentMegabytes());
    return 0;
}

// CPU with the video on two 1280x720 monitors over on one of them.
int measureTwoScreens(const QString &motion)
{
    for (const auto &[name, x] : {std::pair{"left", 0}, std::pair{"right", 1280}}) {
        QProcess::execute(QStringLiteral("xrandr"),
                          {QStringLiteral("--setmonitor"), QString::fromLatin1(name),
                           QStringLiteral("1280/300x720/170+%1+0").arg(x), QStringLiteral("none")});
    }
    waitUntil([] { return Platform::instance().screens().screens().size() == 2; }, 5000);
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    auto manager = std::make_unique<WallpaperManager>(Platform::instance(), defaults);
    const QUrl url = QUrl::fromLocalFile(motion);
    manager->apply(url, QStringLiteral("motion"), QSet<QString>{QStringLiteral("left")});
    spin(3000);
    const double one = ownCpuOver(kMeasureMs);
    manager->apply(url, QStringLiteral("motion"),
                   QSet<QString>{QStringLiteral("left"), QStringLiteral("right")});
    spin(3000);
    const double two = ownCpuOver(kMeasureMs);
    std::printf("one_screen_cpu_percent: %.1f\n", one * 100);
    std::printf("two_screens_cpu_percent: %.1f\n", two * 100);
    std::printf("two_screens_cpu_ratio: %.2f\n", ratio(two, one));
    return 0;
}

double residentMegabytesInChild(const QString &first, const QString &then)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--rss-after"), first, then});
    if (!child.waitForFinished(60000))
        return -1;
    const QByteArray out = child.readAllStandardOutput();
    const qsizetype at = out.indexOf("rss_mb: ");
    return at < 0 ? -1 : out.mid(at + 8).trimmed().toDouble();
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--rss-after"))
        return measureResidentAfter(args[2], args[3]);
    if (args.size() == 3 && args[1] == QLatin1String("--two-screens"))
        return measureTwoScreens(args[2]);
    if (args.size() != 4 && args.size() != 5) {
        std::fprintf(stderr,
                     "usage: %s MOTION.mp4 RED.mp4 BLUE.mp4 [UHD.mp4]\n"
                     "       %s --rss-after FIRST.mp4|- THEN.mp4\n",
                     argv[0], argv[0]);
        return 2;
    }
    const QString motion = args[1], red = args[2], blue = args[3];
    const QString uhd = args.value(4);
    const bool software = desktopRenderPath() == DesktopRenderPath::Software;

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

    // Memory that follows the video: what is left after many hand-overs
    // against what was there after the first few, both a second into the
    // video shown last (a core just shown has not filled its buffers yet).
    double afterFirstTen = -1, afterAll = -1;
    if (software) {
        for (int i = 0; i < kMemoryHandOvers; ++i) {
            applyAndSettle(*manager, i % 2 == 0 ? blue : red);
            if (i == 9) {
                spin(1000);
                afterFirstTen = residentMegabytes();
            }
        }
        spin(1000);
        afterAll = residentMegabytes();
    }

    manager.reset();
    waitUntil([] { return X11DesktopSurface::pendingDisposals() == 0; }, 10000);
    waitUntil([] { return MpvCore::pendingTerminations() == 0; }, 10000);

    const auto printHandOvers = [&](const char *prefix) {
        std::printf("%shandover_visible_ms: %lld\n", prefix,
                    static_cast<long long>(visible[visible.size() / 2]));
        std::printf("%shandover_visible_ms_max: %lld\n", prefix,
                    static_cast<long long>(visible.last()));
        std::printf("%sblack_frames: %d\n", prefix, black);
    };
    if (!software) {
        const double reference = mpvCpu(motion, QStringLiteral("gpu"));
        std::printf("ours_cpu_percent: %.1f\n", ours * 100);
        std::printf("mpv_cpu_percent: %.1f\n", reference * 100);
        std::printf("cpu_ratio_vs_mpv: %.2f\n", ratio(ours, reference));
        std::printf("paused_cpu_percent: %.2f\n", paused * 100);
        std::printf("hidden_cpu_percent: %.2f\n", hidden * 100);
        printHandOvers("");
        return 0;
    }

    const double mpvX11 = mpvCpu(motion, QStringLiteral("x11"));
    const double decode = decodeCpu(motion);
    std::printf("sw_cpu_percent: %.1f\n", ours * 100);
    std::printf("mpv_x11_cpu_percent: %.1f\n", mpvX11 * 100);
    std::printf("decode_cpu_percent: %.1f\n", decode * 100);
    std::printf("cpu_ratio_vs_mpv_x11: %.2f\n", ratio(ours, mpvX11));
    std::printf("cpu_ratio_vs_decode: %.2f\n", ratio(ours, decode));
    std::printf("sw_paused_cpu_percent: %.2f\n", paused * 100);
    std::printf("sw_hidden_cpu_percent: %.2f\n", hidden * 100);
    printHandOvers("sw_");
    std::printf("rss_growth_mb_200_handovers: %.1f\n", afterAll - afterFirstTen);
    if (!uhd.isEmpty()) {
        const double fresh = residentMegabytesInChild(QStringLiteral("-"), motion);
        const double afterUhd = residentMegabytesInChild(uhd, motion);
        std::printf("rss_fresh_720p_mb: %.1f\n", fresh);
        std::printf("rss_after_4k_mb: %.1f\n", afterUhd);
        std::printf("rss_after_4k_mb_ratio: %.2f\n", ratio(afterUhd, fresh));
    }
    return 0;
}
