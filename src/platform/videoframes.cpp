#include "videoframes.h"

#include "platform/ffmpeghandles.h"

#include <QFile>
#include <QTransform>
#include <cmath>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace lumivale::videoframes {
namespace {

using ffmpeg::CodecPtr;
using ffmpeg::FormatPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::ScalerPtr;

// A stalled server must not hold a worker for ever.
const char kNetworkTimeoutMicroseconds[] = "15000000";
// Only these ways to reach a video; no pipes, concatenations or devices, and
// nothing a remote video (a playlist, say) could point at on the local disk.
const char kLocalProtocols[] = "file";
const char kWebProtocols[] = "http,https,tcp,tls";

Error ffmpegError(int code, const QString &what)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return Error(QStringLiteral("FFmpeg"), code,
                 QStringLiteral("%1: %2").arg(what, QString::fromUtf8(text)));
}

QString describe(const QUrl &video)
{
    return video.isLocalFile() ? video.toLocalFile() : video.toDisplayString();
}

Result<FormatPtr> openVideo(const QUrl &video)
{
    static std::once_flag networkReady;
    std::call_once(networkReady, [] { avformat_network_init(); });

    const QString scheme = video.scheme();
    const QByteArray location =
        video.isLocalFile() ? QFile::encodeName(video.toLocalFile()) : video.toEncoded();
    if (location.isEmpty() || !(video.isLocalFile() || scheme == u"http" || scheme == u"https")) {
        return failure(QStringLiteral("VideoFrames"), 1,
                       QStringLiteral("\"%1\" is neither a local file nor a web address")
                           .arg(video.toDisplayString()));
    }
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist",
                video.isLocalFile() ? kLocalProtocols : kWebProtocols, 0);
    av_dict_set(&options, "rw_timeout", kNetworkTimeoutMicroseconds, 0);
    AVFormatContext *raw = nullptr;
    int result = avformat_open_input(&raw, location.constData(), nullptr, &options);
    av_dict_free(&options);
    FormatPtr format(raw);
    if (result >= 0)
        result = avformat_find_stream_info(format.get(), nullptr);
    if (result < 0)
        return failure(ffmpegError(
            result, QStringLiteral("Cannot read the video \"%1\"").arg(describe(video))));
    return format;
}

// The display matrix as a transform of image coordinates (y down), in Qt's
// row-vector convention, which is also FFmpeg's: x' = a x + c y, y' = b x + d y.
std::optional<QTransform> displayTransform(const AVStream *stream)
{
    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix)
        return std::nullopt;
    const auto fixed = [](int32_t value) { return double(value) / 65536.0; };
    const QTransform transform(fixed(matrix[0]), fixed(matrix[1]), fixed(matrix[3]),
                               fixed(matrix[4]), 0, 0);
    if (transform.isIdentity() || !transform.isInvertible())
        return std::nullopt;
    return transform;
}

// Applies `transform` (linear part only). Quarter turns and mirrors are exact
// pixel moves; any other angle is resampled.
QImage transformed(const QImage &image, const QTransform &transform)
{
    const auto close = [](const QTransform &a, const QTransform &b) {
        return std::abs(a.m11() - b.m11()) < 0.01 && std::abs(a.m12() - b.m12()) < 0.01 &&
               std::abs(a.m21() - b.m21()) < 0.01 && std::abs(a.m22() - b.m22()) < 0.01;
    };
    for (const bool mirrored : {false, true}) {
        for (int turns = 0; turns < 4; ++turns) {
            const QTransform candidate =
                QTransform(mirrored ? -1 : 1, 0, 0, 1, 0, 0) * QTransform().rotate(90.0 * turns);
            if (!close(candidate, transform))
                continue;
            QImage result = mirrored ? image.mirrored(true, false) : image;
            return turns == 0 ? result : result.transformed(QTransform().rotate(90.0 * turns));
        }
    }
    return image.transformed(transform, Qt::SmoothTransformation);
}

Result<QImage> toImage(const AVFrame &frame, const QSize &size)
{
    ScalerPtr scaler(sws_getContext(
        frame.width, frame.height, AVPixelFormat(frame.format), size.width(), size.height(),
        AV_PIX_FMT_RGB32, size == QSize(frame.width, frame.height) ? SWS_POINT : SWS_BICUBIC,
        nullptr, nullptr, nullptr));
    QImage image(size, QImage::Format_RGB32);
    if (!scaler || image.isNull())
        return failure(ffmpegError(AVERROR(ENOMEM), QStringLiteral("Cannot convert the frame")));
    const int colorspace =
        frame.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : int(frame.colorspace);
    sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(colorspace),
                             frame.color_range == AVCOL_RANGE_JPEG,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    return image;
}

// Decodes from the current position and keeps the frame the pick asks for.
class FrameDecoder
{
public:
    FrameDecoder(AVFormatContext *format, int streamIndex, AVCodecContext *codec, Pick pick,
                 int64_t target, int64_t latest)
        : m_format(format)
        , m_streamIndex(streamIndex)
        , m_codec(codec)
        , m_pick(pick)
        , m_target(target)
        , m_latest(latest)
    {}

    Result<FramePtr> run()
    {
        PacketPtr packet(av_packet_alloc());
        m_incoming.reset(av_frame_alloc());
        if (!packet || !m_incoming)
            return failure(ffmpegError(AVERROR(ENOMEM), QStringLiteral("Cannot decode the video")));
        int result = 0;
        while (!m_done && (result = av_read_frame(m_format, packet.get())) >= 0) {
            if (packet->stream_index == m_streamIndex) {
                // A frame before the target that nothing refers to is never
                // needed when the first frame after it is wanted.
                const bool skippable = m_pick == Pick::FirstAfter &&
                                       packet->pts != AV_NOPTS_VALUE && packet->pts < m_target;
                m_codec->skip_frame = skippable ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
                result = avcodec_send_packet(m_codec, packet.get());
            }
            av_packet_unref(packet.get());
            if (result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_INVALIDDATA)
                break;
            result = receiveFrames();
            if (result < 0)
                break;
        }
        if (!m_done && (result == AVERROR_EOF || result >= 0)) {
            avcodec_send_packet(m_codec, nullptr); // drain what the decoder holds
            result = receiveFrames();
        }
        if (!m_best)
            return failure(ffmpegError(result < 0 ? result : AVERROR_INVALIDDATA,
                                       QStringLiteral("Cannot decode a frame of the video")));
        return std::move(m_best);
    }

private:
    int receiveFrames()
    {
        while (!m_done) {
            const int result = avcodec_receive_frame(m_codec, m_incoming.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return 0;
            if (result < 0)
                return result;
            const int64_t start = m_incoming->best_effort_timestamp;
            if (m_pick == Pick::ShownAt)
                keepShownFrame(start);
            else
                keepFirstFrameAfter(start);
            av_frame_unref(m_incoming.get());
        }
        return 0;
    }

    void keepShownFrame(int64_t start)
    {
        if (start != AV_NOPTS_VALUE && start > m_target && m_best) {
            m_done = true; // the frame kept is the one on screen at the target
            return;
        }
        keepIncoming();
        if (start != AV_NOPTS_VALUE && start >= m_target)
            m_done = true;
    }

    void keepFirstFrameAfter(int64_t start)
    {
        if (start == AV_NOPTS_VALUE || start < m_target)
            return;
        m_done = true;
        if (start <= m_latest)
            keepIncoming();
    }

    void keepIncoming()
    {
        if (!m_best)
            m_best.reset(av_frame_alloc());
        av_frame_unref(m_best.get());
        av_frame_move_ref(m_best.get(), m_incoming.get());
    }

    AVFormatContext *m_format;
    int m_streamIndex;
    AVCodecContext *m_codec;
    Pick m_pick;
    int64_t m_target;
    int64_t m_latest;
    FramePtr m_incoming;
    FramePtr m_best;
    bool m_done = false;
};

} // namespace

QSize scaledSize(const QSize &source, const QSizeF &bounds, Fit fit)
{
    if (source.isEmpty())
        return source;
    const double widthScale = bounds.width() > 0 ? bounds.width() / source.width() : 0;
    const double heightScale = bounds.height() > 0 ? bounds.height() / source.height() : 0;
    double scale = 1.0;
    if (widthScale > 0 && heightScale > 0)
        scale = fit == Fit::Inside ? std::min(widthScale, heightScale)
                                   : std::max(widthScale, heightScale);
    else if (widthScale > 0 || heightScale > 0)
        scale = std::max(widthScale, heightScale);
    if (scale >= 1.0)
        return source;
    return QSize(std::max(1, int(std::lround(source.width() * scale))),
                 std::max(1, int(std::lround(source.height() * scale))));
}

Result<std::optional<double>> loadDuration(const QUrl &video)
{
    const Result<FormatPtr> format = openVideo(video);
    if (!format)
        return failure(format.error());
    const int64_t duration = (*format)->duration;
    if (duration == AV_NOPTS_VALUE || duration <= 0)
        return std::nullopt;
    return double(duration) / AV_TIME_BASE;
}

Result<QImage> decodeFrame(const QUrl &video, const FrameRequest &request)
{
    Result<FormatPtr> opened = openVideo(video);
    if (!opened)
        return failure(opened.error());
    const FormatPtr format = std::move(*opened);
    const AVCodec *decoder = nullptr;
    const int streamIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0)
        return failure(ffmpegError(
            streamIndex,
            QStringLiteral("The file \"%1\" has no video to decode").arg(describe(video))));
    const AVStream *stream = format->streams[streamIndex];

    CodecPtr codec(avcodec_alloc_context3(decoder));
    int result =
        codec ? avcodec_parameters_to_context(codec.get(), stream->codecpar) : AVERROR(ENOMEM);
    if (result >= 0) {
        codec->thread_count = 0; // one per core
        codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        result = avcodec_open2(codec.get(), decoder, nullptr);
    }
    if (result < 0)
        return failure(ffmpegError(
            result, QStringLiteral("Cannot open the decoder for \"%1\"").arg(describe(video))));

    const int64_t origin = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const auto streamTime = [&](double seconds) {
        return origin + av_rescale_q(std::llround(seconds * AV_TIME_BASE), AV_TIME_BASE_Q,
                                     stream->time_base);
    };
    const int64_t target = streamTime(request.seconds);
    const int64_t latest = streamTime(std::max(request.seconds, request.latestSeconds));
    // Lands on the key frame at or before the target; when the container
    // cannot seek, decoding simply starts where it is.
    if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) >= 0)
        avcodec_flush_buffers(codec.get());
    Result<FramePtr> decoded =
        FrameDecoder(format.get(), streamIndex, codec.get(), request.pick, target, latest).run();
    if (!decoded)
        return failure(decoded.error());
    const FramePtr frame = std::move(*decoded);
    if (frame->width <= 0 || frame->height <= 0)
        return failure(
            ffmpegError(AVERROR_INVALIDDATA, QStringLiteral("The video's frame is empty")));

    // Square pixels first, as the scale filter makes them: the width follows
    // the sample aspect ratio.
    QSize shown(frame->width, frame->height);
    AVRational aspect = frame->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0)
        aspect = stream->codecpar->sample_aspect_ratio;
    if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den)
        shown.setWidth(std::max(1, int(std::lround(shown.width() * av_q2d(aspect)))));

    // Then upright: the size as displayed decides the scale, and the frame is
    // scaled before it is turned, in one pass.
    const std::optional<QTransform> orientation = displayTransform(stream);
    const QSize upright =
        orientation ? orientation->mapRect(QRectF(QPointF(), QSizeF(shown))).size().toSize()
                    : shown;
    const QSize outputSize = scaledSize(upright, request.boundingSize, request.fit);
    const bool sideways = orientation && upright != shown && upright == shown.transposed();
    QSize unturned = sideways ? outputSize.transposed() : outputSize;
    if (orientation && !sideways && upright != shown) // any other angle
        unturned = scaledSize(shown, request.boundingSize, request.fit);

    Result<QImage> image = toImage(*frame, unturned);
    if (!image || !orientation)
        return image;
    return transformed(*image, *orientation);
}

} // namespace lumivale::videoframes
