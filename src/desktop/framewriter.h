#pragma once

#include "platform/error.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QUrl>
#include <optional>

namespace lumivale {

// Still pictures taken from a wallpaper video (see platform/videoframes.h):
// the exact frame shown at a time (decoded from the key frame before it, no
// tolerance), upright as the track's display matrix asks, written as a JPEG.
//
// Plain functions with no shared state: safe from any thread, each call opens
// the file afresh. Failures come back as an Error; FFmpeg's own errors have the
// domain "FFmpeg" and its error number as code.
namespace framewriter {

// Where a frame time that is not a finite number above zero is taken instead.
inline constexpr double kFallbackFrameSeconds = 0.1;
inline constexpr int kJpegQuality = 92;

// The length of the video in seconds; nullopt when the file declares none.
// Fails only when the file cannot be opened as a video.
Result<std::optional<double>> loadDuration(const QString &videoPath);

// The frame on screen at `seconds` from the video's start: the last frame that
// starts at or before that time (the first frame for earlier times, the last
// one for times past the end). Scaled down to cover `screenSize` when given,
// never above the video's own size.
Result<QImage> decodeFrame(const QString &videoPath, double seconds, const QSize &screenSize = {});

// Encodes `image` as JPEG at quality 92 and replaces `destination` atomically:
// readers see the old file or the new one, never part of one.
Result<> writeJpeg(const QImage &image, const QString &destination);

// decodeFrame then writeJpeg; a time that is not finite and above zero means
// 0.1 s. `screenSize`: the largest screen the picture is set on (a still
// larger than that only costs memory, and desktops refuse huge pictures).
Result<> writeFrame(const QUrl &videoFile, double seconds, const QUrl &destination,
                    const QSize &screenSize = {});

Error encodeError();

} // namespace framewriter
} // namespace lumivale
