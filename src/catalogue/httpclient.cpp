#include "httpclient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

namespace lumivale {

QNetworkAccessManager &sharedNetworkAccessManager()
{
    static auto *instance = [] {
        auto *manager = new QNetworkAccessManager;
        // For every request whose owner sets no timeout of its own.
        manager->setTransferTimeout(kDefaultTransferTimeoutMs);
        return manager;
    }();
    return *instance;
}

Error networkError(const QNetworkReply &reply, int transferTimeoutMs, const QString &domain)
{
    // Qt cancels a reply whose transfer timer ran out; any other cancellation
    // is the owner's, who reports its own reason first.
    const bool timedOut = reply.error() == QNetworkReply::OperationCanceledError ||
                          reply.error() == QNetworkReply::TimeoutError;
    if (timedOut) {
        const QString seconds = QString::number(transferTimeoutMs / 1000.0, 'g', 3);
        return Error(domain, QNetworkReply::TimeoutError,
                     QStringLiteral("The server at %1 sent nothing for %2 %3")
                         .arg(reply.url().host(), seconds,
                              transferTimeoutMs == 1000 ? QStringLiteral("second")
                                                        : QStringLiteral("seconds")));
    }
    return Error(domain, reply.error(), reply.errorString());
}

bool isWebVideoURL(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

} // namespace lumivale
