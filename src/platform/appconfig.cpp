#include "appconfig.h"

#include "buildconfig.h"

#include <QtGlobal>

namespace lumivale {

QString infoKeyName(InfoKey key)
{
    switch (key) {
    case InfoKey::ManifestURL:
        return QStringLiteral("ManifestURL");
    case InfoKey::SUPublicEDKey:
        return QStringLiteral("SUPublicEDKey");
    case InfoKey::SUFeedURL:
        return QStringLiteral("SUFeedURL");
    }
    Q_UNREACHABLE();
}

const char *infoKeyEnvironmentVariable(InfoKey key)
{
    switch (key) {
    case InfoKey::ManifestURL:
        return "LUMIVALE_MANIFEST_URL";
    case InfoKey::SUPublicEDKey:
        return "LUMIVALE_SU_PUBLIC_ED_KEY";
    case InfoKey::SUFeedURL:
        return "LUMIVALE_SU_FEED_URL";
    }
    Q_UNREACHABLE();
}

QString infoDictionaryValue(InfoKey key)
{
    const char *variable = infoKeyEnvironmentVariable(key);
    if (qEnvironmentVariableIsSet(variable))
        return qEnvironmentVariable(variable);
    switch (key) {
    case InfoKey::ManifestURL:
        return QString::fromUtf8(buildconfig::manifestURL);
    case InfoKey::SUPublicEDKey:
        return QString::fromUtf8(buildconfig::suPublicEDKey);
    case InfoKey::SUFeedURL:
        return QString::fromUtf8(buildconfig::suFeedURL);
    }
    Q_UNREACHABLE();
}

} // namespace lumivale
