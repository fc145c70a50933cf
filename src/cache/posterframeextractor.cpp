#include "posterframeextractor.h"

#include "platform/ffmpeghandles.h"

#include <QFile>
#include <QTransform>
#include <cmath>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace lumivale {
namespace {

// The window the still comes from, in seconds of presentation time.
constexpr int kFrameTimeMs = 1000;
constexpr int kToleranceAfterMs = 500;
// A stalled server must not hold a worker for ever.
const char kNetworkTimeoutMicroseconds[] = "15000000";
// Only these ways to reach a video; no pipes, concatenations or devices, and
// nothing a remote video (a playlist, say) could point at on the local disk.
const char kLocalProtocols[] = "file";
const char kWebProtocols[] = "http,https,tcp,tls";

using ffmpeg::CodecPtr;
using ffmpeg::FormatPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::ScalerPtr;

FormatPtr openVideo(const QUrl &video)
{
    static std::once_flag networkReady;
    std::call_once(networkReady, [] { avformat_network_init(); });

    const QByteArray location =
        video.isLocalFile() ? QFile::encodeName(video.toLocalFile()) : video.toEncoded();
    const QString scheme = video.scheme();
    if (location.isEmpty() || !(video.isLocalFile() || scheme == u"http" || scheme == u"https"))
        return nullptr;

    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist",
                video.isLocalFile() ? kLocalProtocols : kWebProtocols, 0);
    av_dict_set(&options, "rw_timeout", kNetworkTimeoutMicroseconds, 0);
    AVFormatContext *raw = nullptr;
    const int opened = avformat_open_input(&raw, location.constData(), nullptr, &options);
    av_dict_free(&options);
    FormatPtr format(raw);
    if (opened < 0 || avformat_find_stream_info(format.get(), nullptr) < 0)
        return nullptr;
    return format;
}

// Decodes from the current position to the first frame shown at or after
// `target`; null when it is later than `limit` or the stream ends first.
FramePtr decodeFrameAt(AVFormatContext *format, int streamIndex, AVCodecContext *codec,
                       int64_t target, int64_t limit)
{
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return nullptr;
    bool draining = false;
    while (true) {
        int received = avcodec_receive_frame(codec, frame.get());
        if (received >= 0) {
            const int64_t time = frame->best_effort_timestamp;
            if (time == AV_NOPTS_VALUE || time < target) {
                av_frame_unref(frame.get());
                continue;
            }
            return time <= limit ? std::move(frame) : nullptr;
        }
        if (received != AVERROR(EAGAIN) || draining)
            return nullptr;

        const int read = av_read_frame(format, packet.get());
        if (read < 0) {
            draining = true;
            avcodec_send_packet(codec, nullptr);
            continue;
        }
        if (packet->stream_index == streamIndex) {
            // A frame shown before the target that nothing refers to is never
            // needed: the decoder may skip it.
            const bool beforeTarget = packet->pts != AV_NOPTS_VALUE && packet->pts < target;
            codec->skip_frame = beforeTarget ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            avcodec_send_packet(codec, packet.get());
        }
        av_packet_unref(packet.get());
    }
}

// Clockwise quarter turns and mirroring from the stream's display matrix.
struct Orientation
{
    int quarterTurns = 0;
    bool mirrored = false;
};

Orientation orientationOf(const AVStream *stream)
{
    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix)
        return {};
    const double counterClockwise = av_display_rotation_get(matrix);
    if (std::isnan(counterClockwise))
        return {};
    const int turns = int(std::lround(-counterClockwise / 90.0));
    const double determinant = double(matrix[0]) * matrix[4] - double(matrix[1]) * matrix[3];
    return Orientation{((turns % 4) + 4) % 4, determinant < 0};
}

QImage scaledImage(const AVFrame &frame, const QSize &size)
{
    ScalerPtr scaler(sws_getContext(frame.width, frame.height, AVPixelFormat(frame.format),
                                    size.width(), size.height(), AV_PIX_FMT_RGB32, SWS_BILINEAR,
                                    nullptr, nullptr, nullptr));
    if (!scaler)
        return QImage();
    const int colorspace = frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(colorspace),
                             frame.color_range == AVCOL_RANGE_JPEG ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    return image;
}

} // namespace

QSize fittedSize(const QSize &source, const QSizeF &maximumSize)
{
    double scale = 1.0;
    if (maximumSize.width() > 0)
        scale = std::min(scale, maximumSize.width() / source.width());
    if (maximumSize.height() > 0)
        scale = std::min(scale, maximumSize.height() / source.height());
    if (scale >= 1.0)
        return source;
    return QSize(std::max(1, int(std::lround(source.width() * scale))),
                 std::max(1, int(std::lround(source.height() * scale))));
}

std::optional<QImage> extractPosterFrame(const QUrl &video, const QSizeF &maximumSize)
{
    const auto format = openVideo(video);
    if (!format)
        return std::nullopt;
    const AVCodec *decoder = nullptr;
    const int streamIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0)
        return std::nullopt;
    const AVStream *stream = format->streams[streamIndex];

    CodecPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0)
        return std::nullopt;
    codec->thread_count = 0; // one per core
    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return std::nullopt;

    const int64_t origin = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const AVRational milliseconds{1, 1000};
    const int64_t target = origin + av_rescale_q(kFrameTimeMs, milliseconds, stream->time_base);
    const int64_t limit =
        origin + av_rescale_q(kFrameTimeMs + kToleranceAfterMs, milliseconds, stream->time_base);
    // Lands on the key frame at or before the target; a stream that cannot
    // seek is decoded from where it is.
    if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) >= 0)
        avcodec_flush_buffers(codec.get());
    const auto frame = decodeFrameAt(format.get(), streamIndex, codec.get(), target, limit);
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return std::nullopt;

    // The picture as shown: square pixels, then upright.
    QSize shown(frame->width, frame->height);
    const AVRational aspect = frame->sample_aspect_ratio;
    if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den)
        shown.setWidth(std::max(1, int(std::lround(shown.width() * av_q2d(aspect)))));
    const Orientation orientation = orientationOf(stream);
    const bool sideways = orientation.quarterTurns % 2 == 1;
    const QSize upright = fittedSize(sideways ? shown.transposed() : shown, maximumSize);

    QImage image = scaledImage(*frame, sideways ? upright.transposed() : upright);
    if (image.isNull())
        return std::nullopt;
    if (orientation.mirrored)
        image = image.mirrored(true, false);
    if (orientation.quarterTurns != 0)
        image = image.transformed(QTransform().rotate(90.0 * orientation.quarterTurns));
    return image;
}

} // namespace lumivale
