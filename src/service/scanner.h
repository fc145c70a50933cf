#pragma once

#include "library.h"

#include <QList>
#include <QString>
#include <optional>

namespace lumivale::service {

struct ScanResult
{
    QList<LibraryEntry> entries;
    QStringList skipped; // "file: why", one per video file left out
};

// Describes every video file (by extension: mp4, m4v, mov, webm, mkv) in
// `folder` and writes the library's metadata file. Each entry's ID and name
// come from its file name ("northern-lights.mp4": "northern-lights",
// "Northern Lights"), its resolution label from its size ("4K" from 2160
// lines, else the lines and "p"), its size, length and creation time from the
// file, and a gradient of three colours from the top, middle and bottom of a
// frame. Names, categories and IDs already in the metadata file (a person may
// have written them) are kept. Files that do not play, and names that make no
// usable ID or repeat one, are left out and listed in `skipped`.
//
// Fails, writing nothing, when the existing metadata file cannot be read or
// the new one cannot be written. Blocking; any thread.
Result<ScanResult> scanLibrary(const QString &folder);

// "4K" for 2160 lines or more, else the lines followed by "p" ("1080p").
QString resolutionLabel(int width, int height);

// "northern_lights-2" → "Northern Lights 2".
QString nameFromFileName(const QString &baseName);

} // namespace lumivale::service
