// The lock-screen still's cost: the exact frame at a time plus its JPEG, in
// process, against the ffmpeg command line doing the same with an accurate
// seek, alternating runs on the same file. Prints key: value lines.

#include "desktop/framewriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace lumivale;

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: %s VIDEO [SECONDS] [RUNS]\n", argv[0]);
        return 2;
    }
    const QString video = arguments.at(1);
    const double seconds = arguments.size() > 2 ? arguments.at(2).toDouble() : 9.9;
    const int runs = arguments.size() > 3 ? arguments.at(3).toInt() : 9;
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.jpg"));
    const QString theirs = dir.filePath(QStringLiteral("ffmpeg.jpg"));
    const QStringList ffmpegArguments{QStringLiteral("-hide_banner"),
                                      QStringLiteral("-loglevel"),
                                      QStringLiteral("error"),
                                      QStringLiteral("-y"),
                                      QStringLiteral("-accurate_seek"),
                                      QStringLiteral("-ss"),
                                      QString::number(seconds),
                                      QStringLiteral("-i"),
                                      video,
                                      QStringLiteral("-frames:v"),
                                      QStringLiteral("1"),
                                      QStringLiteral("-q:v"),
                                      QStringLiteral("2"),
                                      theirs};

    QList<double> inProcess, commandLine;
    for (int run = 0; run < runs + 1; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (const auto written = framewriter::writeFrame(QUrl::fromLocalFile(video), seconds,
                                                         QUrl::fromLocalFile(ours));
            !written) {
            std::fprintf(stderr, "still failed: %s\n", qPrintable(written.error().debugText()));
            return 1;
        }
        const double ourMs = double(timer.nsecsElapsed()) / 1e6;

        timer.restart();
        if (QProcess::execute(QStringLiteral("ffmpeg"), ffmpegArguments) != 0) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
        const double theirMs = double(timer.nsecsElapsed()) / 1e6;
        if (run == 0)
            continue; // warm-up: file cache and libraries
        inProcess.append(ourMs);
        commandLine.append(theirMs);
    }

    const double ourMedian = median(inProcess);
    const double theirMedian = median(commandLine);
    std::printf("still_ms: %.1f\n", ourMedian);
    std::printf("ffmpeg_command_line_ms: %.1f\n", theirMedian);
    std::printf("still_ratio_vs_ffmpeg: %.3f\n", ourMedian / theirMedian);
    return 0;
}
