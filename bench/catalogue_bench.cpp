// Catalogue speed on a generated 20,000-record manifest: decoding against a
// bare JSON parse of the same bytes, and building the search snapshot for a
// one-letter and a ten-letter query. Prints key: value lines.
#include "catalogue/wallpaper.h"
#include "catalogue/wallpaperlistsnapshot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <cstdio>

using namespace lumivale;

namespace {

constexpr int kRecords = 20000;

QByteArray generateManifest()
{
    const QStringList adjectives = {QStringLiteral("Crimson"),  QStringLiteral("Silent"),
                                    QStringLiteral("Golden"),   QStringLiteral("Frozen"),
                                    QStringLiteral("Neon"),     QStringLiteral("Misty"),
                                    QStringLiteral("Électric"), QStringLiteral("Velvet"),
                                    QStringLiteral("Drifting"), QStringLiteral("Hidden")};
    const QStringList nouns = {QStringLiteral("River"),   QStringLiteral("Nebula"),
                               QStringLiteral("Forest"),  QStringLiteral("Harbor"),
                               QStringLiteral("Canyon"),  QStringLiteral("Aurora"),
                               QStringLiteral("Café"),    QStringLiteral("Panther"),
                               QStringLiteral("Skyline"), QStringLiteral("Reef")};
    const QStringList categories = {QStringLiteral("Space"),   QStringLiteral("Nature"),
                                    QStringLiteral("Animals"), QStringLiteral("Cities"),
                                    QStringLiteral("Lofi"),    QStringLiteral("Abstract")};
    QRandomGenerator random(42);
    const QDateTime base(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    QJsonArray manifest;
    for (int i = 0; i < kRecords; ++i) {
        const QString id = QStringLiteral("wp-%1").arg(i, 5, 10, QLatin1Char('0'));
        QJsonObject element{
            {QStringLiteral("id"), id},
            {QStringLiteral("name"), adjectives.at(random.bounded(10)) + u' ' +
                                         nouns.at(random.bounded(10)) + u' ' + QString::number(i)},
            {QStringLiteral("category"), categories.at(random.bounded(6))},
            {QStringLiteral("resolution"), i % 3 ? QStringLiteral("4K") : QStringLiteral("8K")},
            {QStringLiteral("likeCount"), qint64(random.bounded(2000000))},
            {QStringLiteral("isLiked"), i % 17 == 0},
            {QStringLiteral("video"),
             QStringLiteral("https://cdn.example.com/videos/%1.mp4").arg(id)},
            {QStringLiteral("gradient"),
             QJsonArray{QStringLiteral("#1B1450"), QStringLiteral("#3D1A78"),
                        QStringLiteral("#0A0420")}},
            {QStringLiteral("sizeBytes"), qint64(random.bounded(500000000))},
            {QStringLiteral("durationSeconds"), random.bounded(600.0)},
        };
        if (i % 2)
            element.insert(QStringLiteral("createdAt"),
                           formatInternetDateTime(base.addSecs(random.bounded(30000000))));
        else
            element.insert(QStringLiteral("isNew"), i % 4 == 0);
        manifest.append(element);
    }
    return QJsonDocument(manifest).toJson(QJsonDocument::Compact);
}

double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

// Median times of several pieces of work, run in turn rather than one after
// the other, so that a change in the machine's load during the measurement
// weighs on every piece alike and not on their ratio. One unmeasured round
// first warms the caches and the allocator. What a piece returns is freed only
// once its time is taken.
template<typename... Work>
std::array<double, sizeof...(Work)> interleavedMedianMs(int rounds, Work... work)
{
    std::array<QList<double>, sizeof...(Work)> times;
    for (int round = -1; round < rounds; ++round) {
        qsizetype slot = 0;
        const auto measure = [&](auto &piece) {
            QElapsedTimer timer;
            timer.start();
            [[maybe_unused]] const auto result = piece();
            if (round >= 0)
                times[slot].append(elapsedMs(timer));
            ++slot;
        };
        (measure(work), ...);
    }
    std::array<double, sizeof...(Work)> medians;
    for (size_t i = 0; i < medians.size(); ++i)
        medians[i] = median(times[i]);
    return medians;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray manifest = generateManifest();

    qsizetype sink = 0;
    // The parse frees its document within its time, as the decoder frees its
    // own; the decoded records are handed back and freed outside the time,
    // since dropping a catalogue is no part of decoding one.
    const auto [parseMs, decodeMs] = interleavedMedianMs(
        11, [&] { return sink += QJsonDocument::fromJson(manifest).array().size(); },
        [&] {
            Result<QList<Wallpaper>> wallpapers = decodeManifest(manifest);
            sink += wallpapers->size();
            return wallpapers;
        });

    const QList<Wallpaper> wallpapers = *decodeManifest(manifest);
    const QString oneLetter = QStringLiteral("a");
    const QString tenLetters = QStringLiteral("Golden Riv"); // 10 characters
    const auto [oneLetterMs, tenLettersMs] = interleavedMedianMs(
        21, [&] { return sink += WallpaperListSnapshot(wallpapers, oneLetter).entries.size(); },
        [&] { return sink += WallpaperListSnapshot(wallpapers, tenLetters).entries.size(); });

    std::printf("records: %d\n", kRecords);
    std::printf("manifest_bytes: %lld\n", static_cast<long long>(manifest.size()));
    std::printf("parse_ms: %.2f\n", parseMs);
    std::printf("decode_ms: %.2f\n", decodeMs);
    std::printf("decode_ratio_vs_parse: %.2f\n", decodeMs / parseMs);
    std::printf("snapshot_ms_1char: %.2f\n", oneLetterMs);
    std::printf("snapshot_ms_10char: %.2f\n", tenLettersMs);
    return sink > 0 ? 0 : 1;
}
