#include "httpclient.h"

#include <QNetworkAccessManager>

namespace lumivale {

QNetworkAccessManager &sharedNetworkAccessManager()
{
    static auto *instance = new QNetworkAccessManager;
    return *instance;
}

} // namespace lumivale
