// Measures the gallery's video surface against the mpv command line on the
// same file and X server. Run it through bench/gallery, which sets up the X
// server and the clip.
//
// Usage: lumivale_bench_gallery CLIP.mp4, or --previews for the card
// preview figures alone (they need no clip of the caller's)
// (It runs itself as `--surface CLIP.mp4` and `--idle CLIP.mp4` for the
// figures that need a process of their own.)

#include "app/runtime.h"
#include "benchsupport.h"
#include "cache/videoposterframe.h"
#include "cache/videoposterframecache.h"
#include "desktop/wallpapermanager.h"
#include "gallery/contentview.h"
#include "gallery/galleryimageprovider.h"
#include "gallery/gallerywindow.h"
#include "gallery/homeviewmodel.h"
#include "gallery/previewplaybackcoordinator.h"
#include "gallery/videosurface.h"
#include "platform/linux/mpvcore.h"
#include "platform/linux/mpvvideoitem.h"
#include "platform/platform.h"
#include "platform/userdefaults.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace lumivale;
using namespace lumivale::bench;

namespace {

constexpr QSize kSurfaceSize(1280, 640);
constexpr int kWarmUpMs = 3000;
constexpr int kMeasureMs = 10000;
constexpr int kIdleMs = 30000;

// Share of one core that a child process used over the measuring window; -1
// when it could not start or ended before the window did.
double childCpu(QProcess &process)
{
    if (!process.waitForStarted())
        return -1;
    if (process.waitForFinished(kWarmUpMs))
        return -1;
    const auto pid = pid_t(process.processId());
    const double before = processCpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    const bool ended = process.waitForFinished(kMeasureMs);
    const double after = processCpuSeconds(pid);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    process.terminate();
    process.waitForFinished();
    return ended || before < 0 || after < 0 ? -1 : (after - before) / seconds;
}

// The mpv command line playing `clip` at `size` in the top left corner, as the
// reference of the CPU ratios. mpv refuses `--vo=gpu` on a software OpenGL
// (llvmpipe, as under Xvfb) unless told to accept it with `--gpu-sw`; where
// even that cannot start, `--vo=x11` stands in. Prints which one counted.
double mpvCpu(const QString &clip, QSize size)
{
    static QString chosen;
    const QList<QStringList> outputs{{QStringLiteral("--vo=gpu"), QStringLiteral("--gpu-sw")},
                                     {QStringLiteral("--vo=x11")}};
    for (const QStringList &output : outputs) {
        if (!chosen.isEmpty() && chosen != output.join(u' '))
            continue;
        QProcess mpv;
        mpv.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mpv.setStandardOutputFile(QProcess::nullDevice());
        mpv.start(
            QStringLiteral("mpv"),
            QStringList{QStringLiteral("--no-config")} + output +
                QStringList{
                    QStringLiteral("--geometry=%1x%2+0+0").arg(size.width()).arg(size.height()),
                    QStringLiteral("--no-border"), QStringLiteral("--loop-file=inf"),
                    QStringLiteral("--no-audio"), QStringLiteral("--really-quiet"),
                    QStringLiteral("--osc=no"), QStringLiteral("--panscan=1.0"), clip});
        const double cpu = childCpu(mpv);
        if (cpu > 0) {
            if (chosen.isEmpty()) {
                chosen = output.join(u' ');
                std::printf("mpv_reference: mpv %s\n", qPrintable(chosen));
                std::fflush(stdout);
            }
            return cpu;
        }
        std::fprintf(stderr, "mpv %s did not play\n", qPrintable(output.join(u' ')));
    }
    return -1;
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

// ---- Home: a 2,000-record catalogue served on loopback, the hero playing ----

constexpr int kHomeRecords = 2000;
constexpr int kFrameIntervalMs = 16;

// Answers every request on 127.0.0.1 with the same JSON body.
class ManifestServer : public QTcpServer
{
public:
    explicit ManifestServer(QByteArray body)
        : m_body(std::move(body))
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains(QByteArrayView("\r\n\r\n")))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                  "Connection: close\r\nContent-Length: " +
                                  QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

private:
    QByteArray m_body;
};

// Records in the home categories, each with a file of its own (links to the
// one clip), so that every card asks for its own poster.
QByteArray homeManifest(const QString &clip, const QString &folder)
{
    const QStringList &categories = HomeViewModel::kHomeCategories;
    QJsonArray records;
    for (int i = 0; i < kHomeRecords; ++i) {
        const QString file = QStringLiteral("%1/%2.mp4").arg(folder).arg(i);
        // A relative target would resolve inside the folder: the links would dangle.
        QFile::link(QFileInfo(clip).absoluteFilePath(), file);
        records.append(
            QJsonObject{{QStringLiteral("id"), QStringLiteral("h%1").arg(i)},
                        {QStringLiteral("name"), QStringLiteral("Scene %1").arg(i)},
                        {QStringLiteral("category"), categories.at(i % 7)},
                        {QStringLiteral("resolution"), QStringLiteral("4K")},
                        {QStringLiteral("isNew"), i == 0},
                        {QStringLiteral("video"), QUrl::fromLocalFile(file).toString()}});
    }
    return QJsonDocument(records).toJson(QJsonDocument::Compact);
}

void collectItems(QQuickItem *item, QList<QQuickItem *> &items)
{
    items.append(item);
    for (QQuickItem *child : item->childItems())
        collectItems(child, items);
}

bool isOnScreen(QQuickItem *item)
{
    if (!item->isVisible() || !item->window())
        return false;
    const QRectF inScene = item->mapRectToScene(item->boundingRect());
    return inScene.intersects(QRectF(QPointF(), item->window()->size())) && inScene.width() > 0;
}

// The hero plays and every poster in view is drawn.
bool homeIsComplete(QQuickWindow &window)
{
    QList<QQuickItem *> items;
    collectItems(window.contentItem(), items);
    bool heroReady = false;
    for (QQuickItem *item : std::as_const(items)) {
        if (auto *poster = qobject_cast<VideoPosterFrame *>(item);
            poster && isOnScreen(poster) && !poster->hasImage()) {
            return false;
        }
        if (auto *surface = qobject_cast<VideoSurface *>(item);
            surface && item->objectName() == u"heroBackdrop")
            heroReady = surface->state() == VideoSurface::State::Ready;
    }
    return heroReady;
}

// Milliseconds until the window shows a complete home: the first frame
// swapped after it is.
double openMs(GalleryWindow &window)
{
    QElapsedTimer clock;
    clock.start();
    window.show();
    window.raise();
    waitUntil([&] { return window.contentView() && homeIsComplete(window); }, 60000);
    bool swapped = false;
    const auto connection =
        QObject::connect(&window, &QQuickWindow::frameSwapped, &window, [&] { swapped = true; });
    window.contentItem()->update();
    waitUntil([&] { return swapped; }, 5000);
    QObject::disconnect(connection);
    return double(clock.nsecsElapsed()) / 1e6;
}

QList<QQuickItem *> onScreenCarousels(QQuickWindow &window)
{
    QList<QQuickItem *> items, carousels;
    collectItems(window.contentItem(), items);
    for (QQuickItem *item : std::as_const(items)) {
        // Whole in view, clear of the title area and the bottom bar.
        const QRectF inScene = item->mapRectToScene(item->boundingRect());
        if (item->objectName() == u"carousel" && item->isVisible() && inScene.top() >= 80 &&
            inScene.bottom() <= window.height() - 100)
            carousels.append(item);
    }
    return carousels;
}

void sendWheel(QQuickWindow &window, QPointF at, QPoint pixels)
{
    QWheelEvent event(at, window.mapToGlobal(at), pixels, pixels * 120 / 60, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&window, &event);
}

void sendMouse(QQuickWindow &window, QEvent::Type type, QPointF at)
{
    QMouseEvent event(type, at, window.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
}

// Drags from `from` by `dx` in `steps` moves, `stepMs` apart.
void dragBy(QQuickWindow &window, QPointF from, qreal dx, int steps, int stepMs)
{
    sendMouse(window, QEvent::MouseButtonPress, from);
    for (int step = 1; step <= steps; ++step) {
        spin(stepMs);
        sendMouse(window, QEvent::MouseMove, from + QPointF(dx * step / steps, 0));
    }
    sendMouse(window, QEvent::MouseButtonRelease, from + QPointF(dx, 0));
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, qsizetype(p * double(values.size()))));
}

int runHome(const QString &clip)
{
    QTemporaryDir folder;
    ManifestServer server(homeManifest(clip, folder.path()));
    qputenv("LUMIVALE_MANIFEST_URL",
            QStringLiteral("http://127.0.0.1:%1/manifest").arg(server.serverPort()).toUtf8());
    GalleryWindow window;
    window.setPosition(0, 0);

    const double cold = openMs(window);
    const int extractions = VideoPosterFrameCache::shared().extractionCount();
    window.hide();
    spin(1000);
    const double warm = openMs(window);
    std::printf("open_ms_cold: %.0f\nopen_ms_warm: %.0f\nposter_extractions_at_open: %d\n", cold,
                warm, extractions);
    std::fflush(stdout);
    ContentView &content = *window.contentView();
    auto *page = window.contentItem()->findChild<QQuickItem *>(QStringLiteral("homePage"));

    // The search: from the end of the wait to the frame that shows it.
    QElapsedTimer searchClock;
    double searchMs = -1;
    const auto frameAfterSearch =
        QObject::connect(&window, &QQuickWindow::frameSwapped, &window, [&] {
            if (searchMs < 0 && content.appliedQuery() == u"scene 1")
                searchMs = double(searchClock.nsecsElapsed()) / 1e6 - ContentView::kQueryDebounceMs;
        });
    searchClock.start();
    content.setQuery(QStringLiteral("scene 1"));
    waitUntil([&] { return searchMs >= 0; }, 10000);
    QObject::disconnect(frameAfterSearch);
    content.setQuery({});
    spin(1500);
    std::printf("search_apply_ms: %.1f\n", searchMs);

    // The page 3,000 pixels down at 60 wheel events a second, then a
    // carousel 1,000 pixels left in a second, frames timed as they are swapped.
    QList<qint64> swaps;
    QElapsedTimer frameClock;
    frameClock.start();
    const auto frames = QObject::connect(&window, &QQuickWindow::frameSwapped, &window,
                                         [&] { swaps.append(frameClock.nsecsElapsed()); });
    const QPointF middle(window.width() / 2.0, 300);
    for (int event = 0; event < 60; ++event) {
        sendWheel(window, middle, QPoint(0, -50));
        spin(1000 / 60);
    }
    const QList<QQuickItem *> carousels = onScreenCarousels(window);
    if (!carousels.isEmpty()) {
        QQuickItem *strip = carousels.first();
        const QPointF from = strip->mapToScene(QPointF(strip->width() - 100, 100));
        dragBy(window, from, -1000, 60, 1000 / 60);
    }
    const qint64 scriptEnd = frameClock.nsecsElapsed();
    spin(200); // the script's last frame
    QObject::disconnect(frames);
    // Only the frames of the script: once it ends, the hero's video alone
    // paces the frames at its 30 per second.
    QList<double> intervals;
    qint64 framesRendered = swaps.isEmpty() ? 0 : 1;
    for (qsizetype i = 1; i < swaps.size() && swaps.at(i - 1) < scriptEnd; ++i) {
        intervals.append(double(swaps.at(i) - swaps.at(i - 1)) / 1e6);
        ++framesRendered;
    }
    std::printf("frame_ms_p95_scroll: %.1f\nframe_ms_p99_scroll: %.1f\n",
                percentile(intervals, 0.95), percentile(intervals, 0.99));
    std::printf("frames_rendered: %lld (of %.0f at 60 Hz)\n", framesRendered,
                double(scriptEnd) / 1e9 * 60);
    std::fflush(stdout);

    // The hero alone: back at the top, the pointer away, nothing else moving.
    if (page)
        page->setProperty("contentY", 0);
    content.previewCoordinator()->setActiveWallpaperID({});
    spin(kWarmUpMs);
    const double heroCpu = ownCpuOver(kMeasureMs);
    window.hide(); // mpv alone on the screen
    spin(500);
    const double mpv = mpvCpu(clip, kSurfaceSize);
    window.show();
    std::printf("hero_cpu_percent: %.1f\nmpv_cpu_percent: %.1f\nhero_cpu_ratio_vs_mpv: %.2f\n",
                heroCpu * 100, mpv * 100, mpv > 0 ? heroCpu / mpv : -1.0);
    std::fflush(stdout);

    // Every row dragged to its end, then the memory that stays.
    if (page) {
        for (qreal y = 0; y <= page->property("contentHeight").toReal(); y += 200) {
            page->setProperty("contentY", y);
            spin(50);
            for (QQuickItem *strip : onScreenCarousels(window)) {
                QObject *carousel = strip->parentItem()->property("carousel").value<QObject *>();
                const QPointF from = strip->mapToScene(QPointF(strip->width() - 50, 100));
                for (int guard = 0; guard < 200; ++guard) {
                    const qreal before = carousel->property("offset").toReal();
                    dragBy(window, from, -1000, 2, kFrameIntervalMs);
                    spin(kFrameIntervalMs);
                    if (carousel->property("offset").toReal() == before)
                        break;
                }
            }
        }
    }
    spin(3000);
    std::printf("rss_mb_after_full_browse: %.0f\n", residentMegabytes());
    const VideoPosterFrameCache &posters = VideoPosterFrameCache::shared();
    std::printf("poster_extractions_total: %d\nposter_stills_kept_mb: %.0f\n",
                posters.extractionCount(), double(posters.keptBytes()) / (1024 * 1024));
    std::fflush(stdout);

    return 0;
}

// Card previews: how soon a preview shows once the pointer has rested on a
// card, and whether stopping one stalls the scene. One card at 760 wide in
// the window's top left corner, over a bar that moves every frame, so the
// scene draws continuously and a stall shows as a long frame interval.
constexpr int kPreviewRuns = 20;
constexpr QRect kCardProbe(380, 60, 40, 40); // inside the card, above its text

const char kPreviewScene[] = R"(
import QtQuick
import Lumivale.Gallery
Rectangle {
    required property PreviewPlaybackCoordinator coordinator
    required property url video
    width: 1280; height: 640
    color: Theme.background
    WallpaperCard {
        width: 760; wallpaperID: "bench"; name: "Bench"; category: "Nature"
        resolution: "HD"; isNew: false; likeCountText: ""; video: parent.video
        hasVideo: true; isActive: false; isDownloaded: false; isDownloading: false
        coordinator: parent.coordinator
    }
    Rectangle {
        y: 600; width: 40; height: 40; color: "white"
        NumberAnimation on x { from: 0; to: 1240; duration: 2000; loops: Animation.Infinite }
    }
})";

// A clip red before 1 s and blue after: the poster (taken at 1 s) is blue, a
// preview starts red.
QString makeRedThenBlueClip(const QTemporaryDir &dir)
{
    const QString clip = dir.filePath(QStringLiteral("red_then_blue.mp4"));
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-hide_banner"),
                                            QStringLiteral("-loglevel"),
                                            QStringLiteral("error"),
                                            QStringLiteral("-y"),
                                            QStringLiteral("-f"),
                                            QStringLiteral("lavfi"),
                                            QStringLiteral("-i"),
                                            QStringLiteral("color=c=red:s=1280x720:r=30:d=1"),
                                            QStringLiteral("-f"),
                                            QStringLiteral("lavfi"),
                                            QStringLiteral("-i"),
                                            QStringLiteral("color=c=blue:s=1280x720:r=30:d=2"),
                                            QStringLiteral("-filter_complex"),
                                            QStringLiteral("[0:v][1:v]concat=n=2:v=1[v]"),
                                            QStringLiteral("-map"),
                                            QStringLiteral("[v]"),
                                            QStringLiteral("-c:v"),
                                            QStringLiteral("libx264"),
                                            QStringLiteral("-g"),
                                            QStringLiteral("30"),
                                            QStringLiteral("-pix_fmt"),
                                            QStringLiteral("yuv420p"),
                                            QStringLiteral("-an"),
                                            clip});
    ffmpeg.waitForFinished(60000);
    return ffmpeg.exitCode() == 0 ? clip : QString();
}

// When the scene's frames reached the screen, recorded on the render thread.
class FrameLog
{
public:
    void add()
    {
        std::lock_guard lock(m_mutex);
        m_times.append(m_clock.nsecsElapsed());
    }
    qint64 now() const { return m_clock.nsecsElapsed(); }
    void start() { m_clock.start(); }
    // The longest interval between frames that touches [from, to] (ns), in ms.
    double longestIntervalMs(qint64 from, qint64 to)
    {
        std::lock_guard lock(m_mutex);
        qint64 longest = 0;
        for (qsizetype i = 1; i < m_times.size(); ++i) {
            if (m_times[i] >= from && m_times[i - 1] <= to)
                longest = std::max(longest, m_times[i] - m_times[i - 1]);
        }
        return double(longest) / 1e6;
    }

private:
    std::mutex m_mutex;
    QElapsedTimer m_clock;
    QList<qint64> m_times;
};

double median(QList<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct PreviewFigures
{
    double startMs = -1;     // median, rest's end to the first red frame on screen
    double stopHitchMs = -1; // median over the stops of the longest frame interval
    double stopHitchWorstMs = -1;
    double playingFrameMaxMs = -1; // the same while a preview plays on, for reference
};

PreviewFigures measurePreviews()
{
    PreviewFigures figures;
    QTemporaryDir dir;
    const QString clip = makeRedThenBlueClip(dir);
    if (clip.isEmpty())
        return figures;

    QQuickWindow window;
    window.setFlag(Qt::FramelessWindowHint);
    window.setGeometry(QRect(QPoint(0, 0), kSurfaceSize));
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.addImageProvider(QString::fromLatin1(GalleryImageProvider::kName),
                            new GalleryImageProvider);
    PreviewPlaybackCoordinator coordinator;
    FrameLog frames;
    frames.start();
    // Before the scene's own bindings, which start the player.
    qint64 restEnded = 0;
    QObject::connect(&coordinator, &PreviewPlaybackCoordinator::activeWallpaperIDChanged,
                     &coordinator, [&] {
                         if (!coordinator.activeWallpaperID().isEmpty())
                             restEnded = frames.now();
                     });
    QQmlComponent component(&engine);
    component.setData(kPreviewScene, QUrl());
    std::unique_ptr<QObject> scene(component.createWithInitialProperties(
        {{QStringLiteral("coordinator"), QVariant::fromValue(&coordinator)},
         {QStringLiteral("video"), QUrl::fromLocalFile(clip)}}));
    auto *root = qobject_cast<QQuickItem *>(scene.get());
    if (!root) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return figures;
    }
    root->setParentItem(window.contentItem());
    QObject::connect(
        &window, &QQuickWindow::frameSwapped, &window, [&] { frames.add(); }, Qt::DirectConnection);
    window.show();

    // The screen's colour at the card, watched on a thread of its own.
    std::atomic_bool done = false;
    std::atomic<qint64> firstRedAt = -1;
    std::atomic_bool blue = false;
    std::thread watcher([&] {
        ScreenProbe probe;
        while (!done) {
            const QColor color = probe.meanColor(kCardProbe);
            blue = isBlue(color);
            // The first frame shows as it starts to fade in over the poster.
            if (color.red() > 64) {
                qint64 none = -1;
                firstRedAt.compare_exchange_strong(none, frames.now());
            }
            QThread::usleep(500);
        }
    });

    QList<double> starts;
    QList<double> hitches;
    QList<double> playing;
    for (int run = 0; run < kPreviewRuns; ++run) {
        if (!waitUntil([&] { return bool(blue); }, 10000)) // the poster
            break;
        spin(300);
        firstRedAt = -1;
        coordinator.hoverChanged(QStringLiteral("bench"), true, true);
        if (!waitUntil([&] { return firstRedAt >= 0 && restEnded > 0; }, 10000))
            break;
        starts.append(double(firstRedAt - restEnded) / 1e6);
        spin(600); // the preview plays on
        const qint64 stopAt = frames.now();
        playing.append(frames.longestIntervalMs(stopAt - 500'000'000, stopAt));
        coordinator.hoverChanged(QStringLiteral("bench"), false, true);
        // Long enough for the player to be stopped and its render context freed.
        spin(1500);
        hitches.append(frames.longestIntervalMs(stopAt, stopAt + 1'500'000'000));
        restEnded = 0;
    }
    done = true;
    watcher.join();
    window.hide();
    scene.reset();
    waitUntil([] { return MpvCore::pendingTerminations() == 0; }, 10000);
    if (starts.size() == kPreviewRuns) {
        figures.startMs = median(starts);
        figures.stopHitchMs = median(hitches);
        figures.stopHitchWorstMs = *std::max_element(hitches.begin(), hitches.end());
        figures.playingFrameMaxMs = median(playing);
    }
    return figures;
}

void printPreviewFigures(const PreviewFigures &figures)
{
    std::printf("preview_start_ms: %.0f\n", figures.startMs);
    std::printf("preview_stop_hitch_ms: %.0f\n", figures.stopHitchMs);
    std::printf("preview_stop_hitch_worst_ms: %.0f\n", figures.stopHitchWorstMs);
    std::printf("preview_playing_frame_max_ms: %.0f\n", figures.playingFrameMaxMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();
    prepareGraphics();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == u"--home")
        return runHome(args[2]);
    if (args.size() == 3 && args[1] == u"--surface")
        return runSurface(args[2]);
    if (args.size() == 2 && args[1] == u"--previews") {
        printPreviewFigures(measurePreviews());
        return 0;
    }
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
    const double mpv = mpvCpu(clip, kSurfaceSize);
    const double chosen = surfaceCpu(clip, {});
    const double gl = surfaceCpu(clip, QStringLiteral("gl"));
    const double sw = surfaceCpu(clip, QStringLiteral("sw"));
    std::printf("mpv_cpu_percent: %.1f\n", mpv * 100);
    std::printf("surface_cpu_percent: %.1f\n", chosen * 100);
    std::printf("surface_cpu_ratio_vs_mpv: %.2f\n", chosen / mpv);
    std::printf("surface_cpu_ratio_gl_path: %.2f\n", gl / mpv);
    std::printf("surface_cpu_ratio_sw_path: %.2f\n", sw / mpv);
    std::fflush(stdout);
    printPreviewFigures(measurePreviews());

    QProcess idle;
    idle.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    idle.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--idle"), clip});
    idle.waitForFinished(kIdleMs + 60000);
    std::printf("idle_cpu_percent_hidden: %s\n",
                idle.readAllStandardOutput().trimmed().constData());
    return 0;
}
