#include "framewriter.h"

#include "platform/ffmpeghandles.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <QTransform>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace lumivale::framewriter {
namespace {

using ffmpeg::CodecPtr;
using ffmpeg::FormatPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ScalePtr = ffmpeg::ScalerPtr;

Error ffmpegError(int code, const QString &what)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return Error(QStringLiteral("FFmpeg"), code,
                 QStringLiteral("%1: %2").arg(what, QString::fromUtf8(text)));
}

FormatPtr openInput(const QString &path, Error &error)
{
    AVFormatContext *raw = nullptr;
    int result = avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr);
    FormatPtr format(raw);
    if (result >= 0)
        result = avformat_find_stream_info(format.get(), nullptr);
    if (result < 0) {
        error = ffmpegError(result, QStringLiteral("Cannot read the video \"%1\"").arg(path));
        return nullptr;
    }
    return format;
}

// Turns the decoded picture upright: the stream's display matrix says how far
// to rotate it clockwise and whether it is mirrored.
QImage applyDisplayMatrix(QImage image, const AVStream *stream)
{
    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (!matrix)
        return image;
    // The first two columns of a 3x3 16.16 fixed-point matrix; a negative
    // determinant means a mirrored picture.
    const double determinant = double(matrix[0]) * matrix[4] - double(matrix[1]) * matrix[3];
    double clockwise = -av_display_rotation_get(matrix);
    if (std::isnan(clockwise))
        return image;
    if (determinant < 0) {
        image = image.mirrored(true, false);
        clockwise = -clockwise;
    }
    const int quarterTurns = int(std::lround(clockwise / 90.0)) % 4;
    if (quarterTurns == 0)
        return image;
    return image.transformed(QTransform().rotate(90.0 * ((quarterTurns + 4) % 4)));
}

QImage toImage(const AVFrame &frame, Error &error)
{
    const auto pixelFormat = static_cast<AVPixelFormat>(frame.format);
    ScalePtr scaler(sws_getContext(frame.width, frame.height, pixelFormat, frame.width,
                                   frame.height, AV_PIX_FMT_RGB32, SWS_BICUBIC, nullptr, nullptr,
                                   nullptr));
    QImage image(frame.width, frame.height, QImage::Format_RGB32);
    if (!scaler || image.isNull()) {
        error = encodeError();
        return {};
    }
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

// Decodes from the key frame before `target` (in stream time base) and keeps
// the last frame that starts at or before it.
class ExactFrameDecoder
{
public:
    ExactFrameDecoder(AVFormatContext *format, int streamIndex, AVCodecContext *codec,
                      int64_t target)
        : m_format(format)
        , m_streamIndex(streamIndex)
        , m_codec(codec)
        , m_target(target)
    {}

    FramePtr run(Error &error)
    {
        PacketPtr packet(av_packet_alloc());
        m_incoming.reset(av_frame_alloc());
        if (!packet || !m_incoming) {
            error = ffmpegError(AVERROR(ENOMEM), QStringLiteral("Cannot decode the video"));
            return nullptr;
        }
        int result = 0;
        while (!m_done && (result = av_read_frame(m_format, packet.get())) >= 0) {
            if (packet->stream_index == m_streamIndex)
                result = avcodec_send_packet(m_codec, packet.get());
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
        if (!m_best) {
            error = ffmpegError(result < 0 ? result : AVERROR_INVALIDDATA,
                                QStringLiteral("Cannot decode a frame of the video"));
            return nullptr;
        }
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
            if (start != AV_NOPTS_VALUE && start > m_target && m_best) {
                m_done = true; // the frame kept is the one on screen at the target
            } else {
                if (!m_best)
                    m_best.reset(av_frame_alloc());
                av_frame_unref(m_best.get());
                av_frame_move_ref(m_best.get(), m_incoming.get());
                if (start != AV_NOPTS_VALUE && start >= m_target)
                    m_done = true;
            }
            av_frame_unref(m_incoming.get());
        }
        return 0;
    }

    AVFormatContext *m_format;
    int m_streamIndex;
    AVCodecContext *m_codec;
    int64_t m_target;
    FramePtr m_incoming;
    FramePtr m_best;
    bool m_done = false;
};

} // namespace

Error encodeError()
{
    return Error(QStringLiteral("WallpaperManager"), 1,
                 QStringLiteral("Failed to encode frozen wallpaper frame"));
}

std::optional<double> loadDuration(const QString &videoPath, Error &error)
{
    const FormatPtr format = openInput(videoPath, error);
    if (!format)
        return std::nullopt;
    if (format->duration == AV_NOPTS_VALUE || format->duration <= 0)
        return std::nullopt;
    return double(format->duration) / AV_TIME_BASE;
}

std::optional<QImage> decodeFrame(const QString &videoPath, double seconds, Error &error)
{
    const FormatPtr format = openInput(videoPath, error);
    if (!format)
        return std::nullopt;
    const AVCodec *decoder = nullptr;
    const int streamIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0) {
        error = ffmpegError(
            streamIndex, QStringLiteral("The file \"%1\" has no video to decode").arg(videoPath));
        return std::nullopt;
    }
    const AVStream *stream = format->streams[streamIndex];

    CodecPtr codec(avcodec_alloc_context3(decoder));
    int result =
        codec ? avcodec_parameters_to_context(codec.get(), stream->codecpar) : AVERROR(ENOMEM);
    if (result >= 0) {
        codec->thread_count = 0; // one per core
        codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        result = avcodec_open2(codec.get(), decoder, nullptr);
    }
    if (result < 0) {
        error = ffmpegError(result,
                            QStringLiteral("Cannot open the decoder for \"%1\"").arg(videoPath));
        return std::nullopt;
    }

    const int64_t origin = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const int64_t target = origin + av_rescale_q(std::llround(seconds * AV_TIME_BASE),
                                                 AV_TIME_BASE_Q, stream->time_base);
    // Lands on the key frame at or before the target; when the container
    // cannot seek, decoding simply starts at the beginning.
    if (av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD) >= 0)
        avcodec_flush_buffers(codec.get());

    const FramePtr frame =
        ExactFrameDecoder(format.get(), streamIndex, codec.get(), target).run(error);
    if (!frame)
        return std::nullopt;
    QImage image = toImage(*frame, error);
    if (image.isNull())
        return std::nullopt;
    return applyDisplayMatrix(std::move(image), stream);
}

std::optional<Error> writeJpeg(const QImage &image, const QString &destination)
{
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    QImageWriter writer(&encoded, "jpeg");
    writer.setQuality(kJpegQuality);
    if (image.isNull() || !writer.write(image) || encoded.data().isEmpty())
        return encodeError();

    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded.data()) != encoded.size() ||
        !file.commit()) {
        return Error(
            QStringLiteral("FileSystem"), int(file.error()),
            QStringLiteral("Cannot write \"%1\": %2").arg(destination, file.errorString()));
    }
    return std::nullopt;
}

std::optional<Error> writeFrame(const QUrl &videoFile, double seconds, const QUrl &destination)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        seconds = kFallbackFrameSeconds;
    Error error;
    const std::optional<QImage> frame = decodeFrame(videoFile.toLocalFile(), seconds, error);
    if (!frame)
        return error;
    return writeJpeg(*frame, destination.toLocalFile());
}

} // namespace lumivale::framewriter
