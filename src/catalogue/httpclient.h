#pragma once

#include <QObject>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace lumivale {

// The process's HTTP client, shared by every request the catalogue makes.
// Created on first use and never destroyed. Main thread only: requests are
// started and their replies handled there.
QNetworkAccessManager &sharedNetworkAccessManager();

// Owns a reply and deletes it later: a reply must not be deleted while it is
// still emitting `finished`, which is where an awaiting coroutine resumes.
struct DeleteLater
{
    void operator()(QObject *object) const { object->deleteLater(); }
};
using NetworkReplyPtr = std::unique_ptr<QNetworkReply, DeleteLater>;

} // namespace lumivale
