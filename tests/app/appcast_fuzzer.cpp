// libFuzzer target for the appcast reader (built with clang only). Every feed
// either reads or fails with a described error; what reads is compared as the
// update check compares it, and the version order must stay antisymmetric.
// Seeds: appcast_corpus/; tokens: appcast.dict.
#include "app/appcast.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace lumivale;
    const auto items =
        appcast::parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)),
                       QUrl(QStringLiteral("https://example.org/lumivale/appcast.xml")));
    if (!items) {
        if (items.error().description().isEmpty())
            std::abort();
        return 0;
    }
    if (items->isEmpty())
        std::abort(); // an empty list is NoUsableItems
    for (qsizetype i = 0; i < items->size(); ++i) {
        const AppcastItem &item = items->at(i);
        if (!appcast::isAllowedURL(item.url) || item.displayVersion().isEmpty())
            std::abort();
        const AppcastItem &other = items->at((i + 1) % items->size());
        if (sign(appcast::compareVersions(item.version, other.version)) !=
            -sign(appcast::compareVersions(other.version, item.version)))
            std::abort();
    }
    appcast::newestUpdate(*items, u"1.0");
    return 0;
}
