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
    }
    Q_UNREACHABLE();
}

} // namespace lumivale
