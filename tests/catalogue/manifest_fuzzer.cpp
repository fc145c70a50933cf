// libFuzzer target for the manifest decoder (built with clang only). Every
// input either decodes or fails with a described error, and whatever decodes
// is used through every derived value, so a fault anywhere on the path shows
// up under the sanitizers. Seeds: manifest_corpus/; tokens: manifest.dict.
#include "catalogue/wallpaper.h"
#include "catalogue/wallpapercardmodel.h"
#include "catalogue/wallpaperlistsnapshot.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumivale;
    const Result<QList<Wallpaper>> wallpapers =
        decodeManifest(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!wallpapers) {
        if (wallpapers.error().description().isEmpty())
            std::abort();
        return 0;
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
    return 0;
}
