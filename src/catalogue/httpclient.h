#pragma once

#include "platform/error.h"

#include <QObject>
#include <QString>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace lumivale {

// The process's HTTP client, shared by every request the catalogue makes, with
// kDefaultTransferTimeoutMs for requests that set none. Created on first use
// and never destroyed. Main thread only: requests are
// started and their replies handled there.
QNetworkAccessManager &sharedNetworkAccessManager();

// Owns a reply and deletes it later: a reply must not be deleted while it is
// still emitting `finished`, which is where an awaiting coroutine resumes.
struct DeleteLater
{
    void operator()(QObject *object) const { object->deleteLater(); }
};
using NetworkReplyPtr = std::unique_ptr<QNetworkReply, DeleteLater>;

// How long a request may go without receiving a byte before it is given up
// (QNetworkRequest::setTransferTimeout), unless its owner was told otherwise.
// A server that accepts the connection and then stays silent must not hold a
// request for the rest of the run.
constexpr int kDefaultTransferTimeoutMs = 30 * 1000;

// The error of a reply that ended in a transport failure, in `domain`. A
// transfer timeout (the reply was cancelled by its own timer) reads "The
// server sent nothing for <n> seconds" instead of Qt's "Operation canceled".
Error networkError(const QNetworkReply &reply, int transferTimeoutMs,
                   const QString &domain = QStringLiteral("Network"));

// Whether a wallpaper's video may be fetched, probed or played from `url`: an
// absolute http or https URL with a host. Anything else (file:, data:, qrc:,
// ftp:, a relative URL) could make the program read local or unexpected
// sources on a catalogue's word, and is refused before anything is read.
bool isWebVideoURL(const QUrl &url);
// The text of that refusal, for every place that shows or returns it.
inline const QString kVideoURLSchemeRefusal =
    QStringLiteral("Wallpaper video must be an http or https URL");

} // namespace lumivale
