#pragma once

#include "platform/error.h"

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QUrl>
#include <optional>

namespace lumivale::videoframes {

// Single frames and the length of a video, read with FFmpeg: the one place
// where the stills, the poster frames and the catalogue's scanner decode a
// video.
//
// A frame comes back as the video is meant to be seen: its pixels made square
// (the sample aspect ratio), then turned and mirrored as the stream's display
// matrix says, the same picture as FFmpeg's own `scale` and autorotate
// filters give. It is scaled in the same step, to fit or to cover a bounding
// size, never above its own displayed size.
//
// `video` is a local file or an http(s) URL (streamed as needed, with a 15 s
// network timeout); nothing else is opened. Plain functions with no shared
// state: blocking, safe from any thread. Failures carry the domain "FFmpeg" and FFmpeg's error
// number as code, or the domain "VideoFrames" for a URL of another kind.

// Which frame a time stands for.
enum class Pick {
    // The frame on screen at the time: the last one that starts at or before
    // it (the first frame for earlier times, the last one past the end).
    ShownAt,
    // The first frame that starts at or after the time, and no later than
    // `latestSeconds`; none otherwise.
    FirstAfter,
};

enum class Fit {
    Inside, // the whole picture within the bounding size
    Cover,  // the bounding size filled, as a wallpaper fills its screen
};

struct FrameRequest
{
    double seconds = 0;
    Pick pick = Pick::ShownAt;
    double latestSeconds = 0; // FirstAfter only
    // Empty or not positive in a dimension: that dimension does not limit.
    QSizeF boundingSize;
    Fit fit = Fit::Inside;
};

// The length in seconds, or nullopt when the file declares none. Fails only
// when the video cannot be opened.
Result<std::optional<double>> loadDuration(const QUrl &video);

Result<QImage> decodeFrame(const QUrl &video, const FrameRequest &request);

// `source` scaled to fit inside `bounds` (Inside) or to cover it (Cover),
// aspect ratio kept, rounded to whole pixels of at least 1; never larger than
// `source`. A dimension of `bounds` that is not positive does not limit.
QSize scaledSize(const QSize &source, const QSizeF &bounds, Fit fit);

} // namespace lumivale::videoframes
