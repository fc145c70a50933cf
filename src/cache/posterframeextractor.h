#pragma once

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QUrl>
#include <optional>

namespace lumivale {

// The still of a video shown before it plays: the first frame shown at or
// after 1.0 s and no later than 1.5 s, turned upright by the stream's display
// matrix (with square pixels; see platform/videoframes.h, which also reads
// durations and frames for other callers) and scaled down to fit `maximumSize` with its aspect
// ratio kept (never scaled up; a dimension of 0 or less does not limit). `video` is a local file or
// an http(s) URL, streamed as needed.
//
// No image when the video cannot be opened or decoded or no frame falls in
// that window (a video shorter than one second). Decodes only what the frame
// needs: from the key frame before it, skipping frames nothing refers to.
// Blocking; any thread.
std::optional<QImage> extractPosterFrame(const QUrl &video, const QSizeF &maximumSize);

// `source` scaled down to fit `maximumSize`, aspect ratio kept, rounded to
// whole pixels of at least 1; `source` itself when it already fits.
QSize fittedSize(const QSize &source, const QSizeF &maximumSize);

} // namespace lumivale
