#pragma once

#include "serviceoptions.h"

#include <memory>
#include <thread>

namespace lumivale::service {

// lumivale-catalog's HTTP service over one library folder:
//   GET  /manifest.json?deviceId=…  the manifest, with this device's likes
//   GET  /videos/<file>             the library's video files, with ranges
//   POST /likes                     {"wallpaperId", "deviceId", "liked"}
//   GET  /healthz                   200 while the database answers, else 503
// Errors are JSON objects {"error": "…"}. With the database out of reach the
// requests that need it answer 503 and the server carries on.
//
// Requests run on a pool of `threads` worker threads. listen() and stop()
// belong to one controlling thread; stop() drains: requests in flight finish,
// new connections are refused.
class CatalogueServer
{
public:
    explicit CatalogueServer(ServeOptions options);
    ~CatalogueServer();
    CatalogueServer(const CatalogueServer &) = delete;
    CatalogueServer &operator=(const CatalogueServer &) = delete;

    // Binds the address; fails when it is taken or the database address is
    // malformed. The database itself may be down: that is not fatal.
    Result<> bind();
    // The port bound (the chosen one when the options asked for port 0).
    int port() const;

    // Serves until stop() (blocking), or in a thread of its own.
    void serve();
    void start();
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
    std::thread m_thread;
};

} // namespace lumivale::service
