#include "posterframeextractor.h"

#include "platform/videoframes.h"

namespace lumivale {
namespace {

// The window the still comes from, in seconds of presentation time.
constexpr double kFrameSeconds = 1.0;
constexpr double kLatestFrameSeconds = 1.5;

} // namespace

QSize fittedSize(const QSize &source, const QSizeF &maximumSize)
{
    return videoframes::scaledSize(source, maximumSize, videoframes::Fit::Inside);
}

std::optional<QImage> extractPosterFrame(const QUrl &video, const QSizeF &maximumSize)
{
    videoframes::FrameRequest request;
    request.seconds = kFrameSeconds;
    request.pick = videoframes::Pick::FirstAfter;
    request.latestSeconds = kLatestFrameSeconds;
    request.boundingSize = maximumSize;
    request.fit = videoframes::Fit::Inside;
    Result<QImage> frame = videoframes::decodeFrame(video, request);
    if (!frame)
        return std::nullopt; // a card without a poster keeps its placeholder
    return std::move(*frame);
}

} // namespace lumivale
