// Measures the application shell; see bench/shell for what and how.

#include "app/appdelegate.h"
#include "app/runtime.h"
#include "benchsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace lumivale;

namespace {

const QString kExecutable = QStringLiteral(LUMIVALE_EXECUTABLE);
// The wallpaper of the catalogue that bench/shell serves.
const QString kWallpaperID = QStringLiteral("bench");
const QRect kProbeArea(600, 320, 80, 80);

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

qint64 residentBytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

void blackenDesktop()
{
    QProcess::execute(QStringLiteral("xsetroot"),
                      {QStringLiteral("-solid"), QStringLiteral("black")});
}

// Starts `program`, then waits for something that is not black in the middle
// of the screen. Returns the milliseconds, or a negative number on timeout.
double timeToFirstFrame(QProcess &process, const QString &program, const QStringList &arguments)
{
    bench::ScreenProbe probe;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    while (timer.elapsed() < 30000) {
        if (!bench::isBlack(probe.meanColor(kProbeArea)))
            return double(timer.nsecsElapsed()) / 1e6;
        QThread::usleep(500);
    }
    return -1;
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGKILL);
    process.waitForFinished(5000);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s VIDEO\n", argv[0]);
        return 2;
    }
    const QString video = QString::fromLocal8Bit(argv[1]);

    // A home of its own: the cached wallpaper and the stored choice that the
    // launch restores.
    QTemporaryDir home;
    for (const char *name : {"config/lumivale", "cache/LumivaleWallpapers", "data", "runtime"})
        QDir(home.path()).mkpath(QString::fromLatin1(name));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.filePath(QStringLiteral("runtime"))));
    qputenv("LUMIVALE_DESKTOP_PICTURES", "none");
    QFile::copy(video,
                home.filePath(QStringLiteral("cache/LumivaleWallpapers/%1.mp4").arg(kWallpaperID)));
    const auto writeDefaults = [&] {
        QFile defaults(home.filePath(QStringLiteral("config/lumivale/lumivale.json")));
        defaults.open(QIODevice::WriteOnly | QIODevice::Truncate);
        defaults.write(
            QStringLiteral(R"({"currentWallpaperID": "%1", "currentWallpaperScreenIDs": [],
                                          "launchAtLoginPreferenceSet": true,
                                          "launchAtLoginEnabled": false})")
                .arg(kWallpaperID)
                .toUtf8());
    };

    prepareProcess();
    QApplication application(argc, argv);
    prepareApplication();

    // Start-up to the first frame, alternating with mpv.
    QList<double> ours, theirs;
    qint64 ourRss = -1, mpvRss = -1;
    const QStringList mpvArguments{
        QStringLiteral("--no-config"),          QStringLiteral("--vo=gpu"),
        QStringLiteral("--gpu-context=x11egl"), QStringLiteral("--fs"),
        QStringLiteral("--no-audio"),           QStringLiteral("--loop-file=inf"),
        QStringLiteral("--really-quiet"),       video};
    for (int round = 0; round < 5; ++round) {
        writeDefaults();
        blackenDesktop();
        QProcess app;
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ours.append(timeToFirstFrame(app, kExecutable, {QStringLiteral("--login-item")}));
        if (round == 4) {
            QThread::sleep(4);
            ourRss = residentBytes(app.processId());
            // The command round trip, against this running instance.
            QList<double> roundTrips;
            for (int i = 0; i < 20; ++i) {
                QProcess status;
                QElapsedTimer timer;
                timer.start();
                status.start(kExecutable, {QStringLiteral("--status")});
                status.waitForFinished(10000);
                roundTrips.append(double(timer.nsecsElapsed()) / 1e6);
            }
            std::printf("command_roundtrip_ms: %.1f\n", median(roundTrips));
        }
        stop(app);

        blackenDesktop();
        QProcess mpv;
        theirs.append(timeToFirstFrame(mpv, QStringLiteral("mpv"), mpvArguments));
        if (round == 4) {
            QThread::sleep(4);
            mpvRss = residentBytes(mpv.processId());
        }
        stop(mpv);
    }
    const double ourStart = median(ours);
    const double mpvStart = median(theirs);
    std::printf("restore_ms: %.0f\n", ourStart);
    std::printf("mpv_first_frame_ms: %.0f\n", mpvStart);
    std::printf("restore_ratio_vs_mpv: %.2f\n", mpvStart > 0 ? ourStart / mpvStart : 0);
    std::printf("rss_mb: %.1f\n", double(ourRss) / 1e6);
    std::printf("mpv_rss_mb: %.1f\n", double(mpvRss) / 1e6);
    std::printf("rss_ratio_vs_mpv: %.2f\n", mpvRss > 0 ? double(ourRss) / double(mpvRss) : 0);

    // The meters, in this process, as the menu refreshes them; nothing to
    // restore here.
    QFile::remove(home.filePath(QStringLiteral("config/lumivale/lumivale.json")));
    AppDelegate::Environment env = AppDelegate::Environment::standard();
    env.makesStatusItem = false;
    env.exitApplication = [] {};
    AppDelegate delegate(std::move(env), true);
    delegate.applicationDidFinishLaunching(false);
    QList<double> refreshes;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer timer;
        timer.start();
        delegate.refreshMenuMetrics();
        refreshes.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("menu_metrics_ms: %.3f\n", median(refreshes));
    std::fflush(stdout);
    return 0;
}
