#pragma once

#include <QString>

namespace lumivale {

// The application's fixed configuration, the keys of its information
// dictionary. Each key is baked into the build from a CMake cache variable and
// can be overridden at run time by an environment variable; when the variable
// is set, even to an empty text, it wins. Any thread.
enum class InfoKey {
    ManifestURL,   // "ManifestURL": the catalogue's address; env LUMIVALE_MANIFEST_URL
    SUPublicEDKey, // "SUPublicEDKey": the update signing key; env LUMIVALE_SU_PUBLIC_ED_KEY
    SUFeedURL,     // "SUFeedURL": the address of the update feed; env LUMIVALE_SU_FEED_URL
};

// The key's name as the dictionary spells it ("ManifestURL").
QString infoKeyName(InfoKey key);
// The environment variable that overrides it ("LUMIVALE_MANIFEST_URL").
const char *infoKeyEnvironmentVariable(InfoKey key);
// The value, exactly as configured: nothing is trimmed or checked here.
QString infoDictionaryValue(InfoKey key);

} // namespace lumivale
