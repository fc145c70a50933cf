#pragma once

#include "platform/error.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace lumivale::service {

// How `lumivale-catalog serve` runs.
struct ServeOptions
{
    QString libraryFolder;
    QString host = QStringLiteral("127.0.0.1");
    int port = 8765;         // 0: any free port
    QString database;        // empty: "likes.sqlite" in the library folder
    QString videoBaseURL;    // empty: this server's /videos/
    int likesPerSecond = 10; // per device and per address; 0: no limit
    int threads = 64;        // each open connection holds one while it is served
    int refreshMs = 1000;    // how stale the like counts of other copies may be
    bool logRequests = true;
    // A load balancer's address: requests from it are counted against the
    // last address it adds to X-Forwarded-For instead of its own.
    QString trustedProxy;
};

// The arguments after "serve": --library DIR (required), --listen HOST:PORT,
// --db URL, --video-base-url URL, --likes-per-second N, --threads N,
// --trusted-proxy ADDRESS, --quiet. Fails with a message that names the bad argument.
Result<ServeOptions> parseServeArguments(const QStringList &arguments);

} // namespace lumivale::service
