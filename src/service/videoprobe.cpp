#include "videoprobe.h"

#include "cache/posterframeextractor.h"
#include "platform/ffmpeghandles.h"

#include <QFile>
#include <QUrl>
#include <cmath>

extern "C" {
#include <libavutil/display.h>
}

using namespace Qt::StringLiterals;

namespace lumivale::service {
namespace {

const QString kErrorDomain = u"Scan"_s;
// Enough pixels for three colours; the extraction never scales up.
const QSizeF kFrameSize(96, 96);

} // namespace

Result<VideoFacts> probeVideo(const QString &path)
{
    // The reason for a refusal is reported once, in the scan's own words;
    // FFmpeg's complaints about the same file would only repeat it.
    av_log_set_level(AV_LOG_FATAL);
    const auto fail = [](int code, const QString &message) {
        return failure(kErrorDomain, code, message);
    };
    AVFormatContext *rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return fail(1, u"not a media file"_s);
    const ffmpeg::FormatPtr format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return fail(2, u"its streams cannot be read"_s);
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return fail(3, u"no video stream"_s);
    const AVStream *stream = format->streams[index];
    if (!avcodec_find_decoder(stream->codecpar->codec_id))
        return fail(4, u"no decoder for its video"_s);

    VideoFacts facts;
    facts.width = stream->codecpar->width;
    facts.height = stream->codecpar->height;
    if (const uint8_t *matrix =
            av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        const double rotation = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
        if (std::lround(std::abs(rotation)) % 180 == 90)
            std::swap(facts.width, facts.height);
    }
    if (stream->duration > 0)
        facts.durationSeconds = double(stream->duration) * av_q2d(stream->time_base);
    else if (format->duration > 0)
        facts.durationSeconds = double(format->duration) / AV_TIME_BASE;
    if (facts.width <= 0 || facts.height <= 0 || facts.durationSeconds <= 0)
        return fail(5, u"no size or length"_s);

    const auto frame = extractPosterFrame(QUrl::fromLocalFile(path), kFrameSize);
    if (!frame)
        return fail(6, u"no frame decodes"_s);
    facts.frame = *frame;
    return facts;
}

} // namespace lumivale::service
