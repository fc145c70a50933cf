// Shorthands shared by the catalogue tests.

#pragma once

#include "catalogue/wallpaper.h"

#include <QStringList>

namespace lumivale::test {

// JSON written with single quotes, to keep the fixtures readable.
inline QByteArray J(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

inline QStringList idsOf(const QList<Wallpaper> &wallpapers)
{
    QStringList ids;
    for (const Wallpaper &wallpaper : wallpapers)
        ids.append(wallpaper.id());
    return ids;
}

} // namespace lumivale::test
