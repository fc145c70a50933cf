// Media cache speed against references measured in the same run: a poster
// frame against the ffmpeg command line, a 200 MB download against curl from
// the same loopback server, and the trim of a 10,000-file folder. Usage:
// lumivale_bench_cache VIDEO WORKDIR [poster|download|trim] (one part only). Prints key: value
// lines.
#include "cache/posterframeextractor.h"
#include "cache/videocache.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace lumivale;

namespace {

constexpr qint64 kDownloadBytes = 200LL * 1000 * 1000;
constexpr int kTrimFiles = 10000;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double millisecondsOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

void runOrDie(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    }
}

// Serves one file to every GET on 127.0.0.1, one connection at a time, with
// sendfile(2): neither client is held back by the server.
class FileServer
{
public:
    explicit FileServer(const QString &path)
        : m_path(QFile::encodeName(path))
    {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            listen(m_listener, 8) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            qFatal("cannot listen on loopback");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~FileServer()
    {
        m_stopping = true;
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        m_thread.join();
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/video.mp4").arg(m_port)); }

private:
    void serve()
    {
        while (!m_stopping) {
            const int connection = accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                continue;
            answer(connection);
            close(connection);
        }
    }

    void answer(int connection)
    {
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n")) {
            const ssize_t received = recv(connection, buffer, sizeof buffer, 0);
            if (received <= 0)
                return;
            request.append(buffer, received);
        }
        const int file = open(m_path.constData(), O_RDONLY);
        struct stat info;
        if (file < 0 || fstat(file, &info) != 0) {
            close(file);
            return;
        }
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: " +
                                QByteArray::number(qint64(info.st_size)) +
                                "\r\nConnection: close\r\n\r\n";
        if (send(connection, head.constData(), size_t(head.size()), MSG_NOSIGNAL) < 0) {
            close(file);
            return;
        }
        off_t offset = 0;
        while (offset < info.st_size) {
            if (sendfile(connection, file, &offset, size_t(info.st_size - offset)) <= 0)
                break;
        }
        close(file);
    }

    QByteArray m_path;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping = false;
    std::thread m_thread;
};

void measurePosterFrames(const QString &video)
{
    const QSizeF size(760, 428);
    QList<double> inProcess;
    QList<double> commandLine;
    for (int run = 0; run < 7; ++run) {
        inProcess.append(millisecondsOf([&] {
            const std::optional<QImage> image =
                extractPosterFrame(QUrl::fromLocalFile(video), size);
            if (!image || image->size() != QSize(760, 428))
                qFatal("no poster frame");
        }));
        commandLine.append(millisecondsOf([&] {
            runOrDie(QStringLiteral("ffmpeg"),
                     {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                      QStringLiteral("error"), QStringLiteral("-ss"), QStringLiteral("1"),
                      QStringLiteral("-i"), video, QStringLiteral("-frames:v"), QStringLiteral("1"),
                      QStringLiteral("-vf"), QStringLiteral("scale=760:428"), QStringLiteral("-f"),
                      QStringLiteral("null"), QStringLiteral("-")});
        }));
    }
    std::printf("poster_ms: %.1f\nffmpeg_poster_ms: %.1f\nposter_ratio_vs_ffmpeg: %.2f\n",
                median(inProcess), median(commandLine), median(inProcess) / median(commandLine));
}

void measureDownloads(const QString &workDirectory)
{
    const QString source = workDirectory + QStringLiteral("/download-source.bin");
    if (QFileInfo(source).size() != kDownloadBytes) {
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(source));
        QByteArray block(1 << 20, '\0');
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = char(i * 131 % 251);
        for (qint64 written = 0; written < kDownloadBytes; written += block.size())
            file.write(block.constData(), std::min<qint64>(block.size(), kDownloadBytes - written));
    }
    FileServer server(source);
    const QString cacheDirectory = workDirectory + QStringLiteral("/LumivaleWallpapers");
    VideoCache cache(cacheDirectory);
    // Each run's file is cleared away at once, not kept for a caller to apply.
    qint64 now = 0;
    cache.setClock([&now] { return now; });
    const QString curlOutput = workDirectory + QStringLiteral("/curl-output.bin");

    QList<double> ours;
    QList<double> curl;
    for (int run = 0; run < 5; ++run) {
        Wallpaper wallpaper;
        wallpaper.setId(QStringLiteral("bench%1").arg(run));
        wallpaper.setVideo(server.url());
        ours.append(millisecondsOf([&] {
            const VideoDownloadResult result = QCoro::waitFor(cache.download(wallpaper));
            if (!result || QFileInfo(result->toLocalFile()).size() != kDownloadBytes)
                qFatal("download failed");
        }));
        now += VideoCache::kRecentlyHandedOutMs;
        if (!cache.clearCache())
            qFatal("cannot clear the cache");
        curl.append(millisecondsOf([&] {
            runOrDie(QStringLiteral("curl"), {QStringLiteral("-sS"), QStringLiteral("-o"),
                                              curlOutput, server.url().toString()});
        }));
        QFile::remove(curlOutput);
    }
    std::printf("download_ms: %.1f\ncurl_ms: %.1f\ndownload_ratio_vs_curl: %.2f\n", median(ours),
                median(curl), median(ours) / median(curl));
}

void createTrimFolder(const QString &folder)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < kTrimFiles; ++i) {
        QFile file(folder + QStringLiteral("/video%1.mp4").arg(i));
        if (!file.open(QIODevice::WriteOnly) || file.write("v", 1) != 1 ||
            !file.setFileTime(now.addSecs(-i), QFileDevice::FileModificationTime))
            qFatal("cannot create the trim folder");
    }
}

// The trim deletes 9,950 of the 10,000 files; the reference is the system's
// own `rm -rf` of an identical folder, which only deletes.
void measureTrim(const QString &workDirectory)
{
    const QString folder = workDirectory + QStringLiteral("/trim");
    QList<double> times;
    QList<double> removeTimes;
    for (int run = 0; run < 3; ++run) {
        createTrimFolder(folder);
        times.append(millisecondsOf([&] {
            if (!VideoCache::trim(folder, {folder + QStringLiteral("/video0.mp4")}))
                qFatal("trim failed");
        }));
        if (QDir(folder).entryList(QDir::Files).size() != VideoCache::kMaxCachedFiles)
            qFatal("trim kept the wrong number of files");
        createTrimFolder(folder);
        removeTimes.append(millisecondsOf([&] {
            runOrDie(QStringLiteral("rm"), {QStringLiteral("-rf"), folder});
        }));
    }
    std::printf("trim_ms_10000: %.1f\nrm_ms_10000: %.1f\ntrim_ratio_vs_rm: %.2f\n", median(times),
                median(removeTimes), median(times) / median(removeTimes));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s VIDEO WORKDIR [poster|download|trim]\n", argv[0]);
        return 2;
    }
    const QString video = QString::fromLocal8Bit(argv[1]);
    const QString workDirectory = QString::fromLocal8Bit(argv[2]);
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (only.isEmpty() || only == u"poster")
        measurePosterFrames(video);
    std::fflush(stdout);
    if (only.isEmpty() || only == u"download")
        measureDownloads(workDirectory);
    std::fflush(stdout);
    if (only.isEmpty() || only == u"trim")
        measureTrim(workDirectory);
    return 0;
}
