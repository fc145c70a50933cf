#pragma once

#include "platform/error.h"

#include <QImage>
#include <QString>
#include <optional>

namespace lumivale::service {

// What `scan` needs to know of one video file.
struct VideoFacts
{
    int width = 0; // as displayed, turned upright
    int height = 0;
    double durationSeconds = 0;
    QImage frame; // a still from near its start, small
};

// Opens `path` with FFmpeg, reads its first video stream's size and length and
// decodes one frame through the application's poster-frame extraction. Fails
// when the file is not a video that plays: no video stream, no decoder, no
// length, or no frame. Blocking; any thread.
Result<VideoFacts> probeVideo(const QString &path);

} // namespace lumivale::service
