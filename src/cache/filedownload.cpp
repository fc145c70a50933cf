#include "filedownload.h"

#include <QFileDevice>
#include <QNetworkReply>
#include <fcntl.h>
#include <qcoro/qcoronetworkreply.h>

namespace lumivale {
namespace {
constexpr qint64 kWritebackChunkBytes = 8 * 1024 * 1024;
} // namespace

void DownloadGroup::add(QNetworkReply *reply)
{
    m_replies.removeIf([](const QPointer<QNetworkReply> &done) { return done.isNull(); });
    m_replies.append(reply);
}

void DownloadGroup::abortAll()
{
    m_isAborting = true;
    const QList<QPointer<QNetworkReply>> replies = m_replies;
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (reply)
            reply->abort();
    }
}

QCoro::Task<FileDownloadResult> downloadToFile(QNetworkReply *reply, QFileDevice &file,
                                               FileDownloadOptions options, DownloadGroup *group)
{
    using Failure = FileDownloadResult::Failure;
    if (group)
        group->add(reply);
    reply->setReadBufferSize(options.readBufferBytes);
    const qint64 limit = options.maxBytes;
    bool writeFailed = false;
    bool tooLarge = false;
    qint64 written = 0;
    qint64 writebackStarted = 0;
    QByteArray buffer(options.readBufferBytes, Qt::Uninitialized);
    const auto drain = [&] {
        qint64 count = 0;
        while (!writeFailed && !tooLarge &&
               (count = reply->read(buffer.data(), buffer.size())) > 0) {
            if (written + count > limit) {
                tooLarge = true;
                break;
            }
            writeFailed = file.write(buffer.constData(), count) != count;
            written += count;
        }
        if (options.startsWriteback && !writeFailed &&
            written - writebackStarted >= kWritebackChunkBytes && file.flush()) {
            sync_file_range(file.handle(), writebackStarted, written - writebackStarted,
                            SYNC_FILE_RANGE_WRITE);
            writebackStarted = written;
        }
        if (writeFailed || tooLarge)
            reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, drain);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limit) {
            tooLarge = true;
            reply->abort();
        }
    });
    co_await reply;
    // Nothing more may call back into this frame once it has returned.
    QObject::disconnect(reply, &QNetworkReply::readyRead, reply, nullptr);
    QObject::disconnect(reply, &QNetworkReply::metaDataChanged, reply, nullptr);
    if (!tooLarge && reply->isOpen())
        drain(); // whatever arrived with the end

    FileDownloadResult result;
    result.bytesWritten = written;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        result.failure = Failure::HttpStatus;
        result.httpStatus = status.toInt();
    } else if (tooLarge) {
        result.failure = Failure::TooLarge;
    } else if (writeFailed) {
        result.failure = Failure::WriteFailed;
    } else if (group && group->isAborting()) {
        result.failure = Failure::Cancelled;
    } else if (reply->error() != QNetworkReply::NoError) {
        result.failure = Failure::Network;
    } else if (const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
               length.isValid() && reply->rawHeader("Content-Encoding").isEmpty() &&
               length.toLongLong() != written) {
        // A connection closed before the announced length is a broken
        // download, whatever the transport made of it.
        result.failure = Failure::Truncated;
        result.announcedBytes = length.toLongLong();
    }
    co_return result;
}

} // namespace lumivale
