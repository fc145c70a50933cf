#pragma once

#include <QList>
#include <QPointer>
#include <QtGlobal>
#include <qcoro/qcorotask.h>

class QFileDevice;
class QNetworkReply;

namespace lumivale {

// The requests one owner has in flight, aborted together when the owner goes
// away (a cache being destroyed, an updater deleted at quit). A reply leaves
// the group by itself when it is deleted.
//
// Belongs to the thread of the replies it holds; not thread-safe.
class DownloadGroup
{
public:
    void add(QNetworkReply *reply);
    // Aborts every request in flight; downloads see it as Cancelled from now
    // on.
    void abortAll();
    bool isAborting() const { return m_isAborting; }

private:
    QList<QPointer<QNetworkReply>> m_replies;
    bool m_isAborting = false;
};

struct FileDownloadOptions
{
    // The most the body may have, announced or received; past it the request
    // is aborted at once, so an endless body cannot fill the disk.
    qint64 maxBytes = 0;
    // What is held in memory between the network and the disk, twice (the
    // reply's buffer and the copy). Bounded, so a disk slower than the
    // network holds back the transfer instead of the body piling up.
    qint64 readBufferBytes = 256 * 1024;
    // Starts the kernel's write-back every few MiB, so that an fsync at the
    // end has little left to wait for.
    bool startsWriteback = false;
};

// How a download ended. The first failure that applies, in this order.
struct FileDownloadResult
{
    enum class Failure {
        None,
        // A status outside 200-299 (`httpStatus`).
        HttpStatus,
        // More than `maxBytes` was announced or sent.
        TooLarge,
        // The file could not be written (see the file's error).
        WriteFailed,
        // The owner's group was aborted.
        Cancelled,
        // A transport failure: see the reply's error.
        Network,
        // The connection closed before the announced length (`announcedBytes`).
        Truncated,
    };
    Failure failure = Failure::None;
    int httpStatus = 0;
    qint64 bytesWritten = 0;
    qint64 announcedBytes = -1;
};

// Writes the body of `reply` into `file` (open for writing) as it arrives,
// through one reused buffer, and waits for the reply to finish. The reply is
// the caller's (its request, redirects, timeout and deletion); it joins
// `group`, if given, while it runs. The file is left as written: removing a
// partial file, flushing it to the disk and giving it its name are the
// caller's.
//
// On the thread that owns the reply, which must run an event loop.
QCoro::Task<FileDownloadResult> downloadToFile(QNetworkReply *reply, QFileDevice &file,
                                               FileDownloadOptions options,
                                               DownloadGroup *group = nullptr);

} // namespace lumivale
