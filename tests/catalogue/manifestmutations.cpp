#include "manifestmutations.h"

#include "catalogue/wallpaper.h"
#include "catalogue/wallpapercardmodel.h"
#include "catalogue/wallpaperlistsnapshot.h"

namespace lumivale::test {

QList<QByteArray> manifestSeeds()
{
    return {
        "[]",
        "[{\"id\":\"001\",\"name\":\"Nebula Drift\",\"video\":\"https://cdn.test/1.mp4\"}]",
        "[{\"id\":\"a\",\"name\":\"Caf\xc3\xa9\",\"category\":\"Cafe\xcc\x81\",\"resolution\":"
        "\"8K\","
        "\"isNew\":true,\"createdAt\":\"2024-05-01T12:30:15+02:00\",\"likeCount\":1500,"
        "\"likes\":3,\"isLiked\":false,\"video\":\"https://cdn.test/a.mp4?x=1\","
        "\"gradient\":[\"#1B1450\",\" 3d1a78 \",\"bad\"],\"sizeBytes\":123456789,"
        "\"durationSeconds\":12.5},"
        "{\"id\":\"b\",\"name\":\"\xf0\x9f\x98\x80 Cat\",\"likes\":999999,\"video\":\"http://h/b\","
        "\"createdAt\":17,\"gradient\":[]}]",
    };
}

QByteArray mutateManifest(const QByteArray &input, QRandomGenerator &random)
{
    static const QList<QByteArray> tokens = {"null",
                                             "true",
                                             "1e400",
                                             "-9223372036854775809",
                                             "9223372036854775807",
                                             "5.5",
                                             "\"",
                                             "[",
                                             "]",
                                             "{",
                                             "}",
                                             ",",
                                             ":",
                                             "\\u0000",
                                             "\\ud800",
                                             "\xc3",
                                             "\xcc\x81",
                                             "\"createdAt\":\"2024-02-30T00:00:00Z\"",
                                             "\"video\":\"\"",
                                             "\"gradient\":[1]",
                                             "[[[[[[[[[[[[[[[[[[[[",
                                             "\"likeCount\":\"5\""};
    QByteArray output = input;
    const auto position = [&] { return qsizetype(random.bounded(int(output.size()) + 1)); };
    switch (random.bounded(6)) {
    case 0:
        if (!output.isEmpty())
            output[position() % output.size()] ^= char(1 << random.bounded(8));
        break;
    case 1:
        output.insert(position(), char(random.bounded(256)));
        break;
    case 2: {
        const qsizetype from = position();
        output.remove(from, random.bounded(16));
        break;
    }
    case 3: {
        const qsizetype from = position();
        const QByteArray chunk = output.mid(from, random.bounded(64));
        output.insert(position(), chunk);
        break;
    }
    default:
        output.insert(position(), tokens.at(random.bounded(int(tokens.size()))));
        break;
    }
    return output;
}

void exerciseManifest(const QByteArray &input)
{
    const Result<QList<Wallpaper>> wallpapers = decodeManifest(input);
    if (!wallpapers) {
        Q_ASSERT(!wallpapers.error().description().isEmpty());
        return;
    }
    QSet<QString> ids;
    for (const Wallpaper &wallpaper : *wallpapers) {
        ids.insert(wallpaper.id());
        wallpaper.gradientColors();
        wallpaper.toJson();
        WallpaperCardModel::make(wallpaper, wallpaper.id(), ids);
        // Searching for a piece of its own name exercises the boundary checks.
        const WallpaperListSnapshot snapshot(*wallpapers, wallpaper.name().mid(1, 3));
        snapshot.wallpapersInCategory(wallpaper.category());
    }
}

} // namespace lumivale::test
