#pragma once
// The control server's check that its queue still delivers. Once the request loop has waited a
// while without a request, a request is sent to the server's own port over a loopback connection
// kept open for it; the loop answers it without handling it. A probe that has not arrived after a
// few seconds of waiting means that the queue no longer delivers.
//
// The kept connection also keeps the server reachable under Wine: its HTTP driver accepts new
// connections only when one of its sockets wakes it, and after an accept that found nothing
// waiting its listening socket stops waking it at all, so new clients wait unaccepted until some
// other connection of the driver has traffic. The probe's request is such traffic.

#include "HttpApiUse.h"

#include "vpn/WinsockStartup.h"

#include "SocketHandle.h"

#include <string>

class ListenerProbe {
public:
    // Waiting this long without a request sends a probe; waiting this long more without the probe
    // arriving judges the queue. Time spent handling requests does not count: a busy server has
    // traffic, which is all Wine's driver needs, and a probe may wait behind a slow handler.
    static constexpr DWORD ProbeAfterIdleMs = 1000;
    static constexpr DWORD ProbeArrivesWithinMs = 5000;

    enum class Verdict {
        Waiting,    // nothing to do yet, or a probe is under way
        Overdue,    // a probe sent has not arrived in time: the queue no longer delivers
    };

    // How long the loop may wait for a request before `waited` has something to do.
    DWORD nextCheckMs() const;
    // The loop waited `elapsedMs` without a request. Sends a probe to `path` on 127.0.0.1:`port`
    // once it has waited long enough, and judges one sent earlier.
    Verdict waited(DWORD elapsedMs, int port, const std::string& path);
    // A request arrived; true when it is the probe's, which the loop answers without handling it.
    bool arrived(const HTTP_REQUEST_V1& request);
    // After the queue was made anew: the next probe goes at once, on a new connection.
    void reset();

private:
    bool send(int port, const std::string& path);
    bool connectTo(int port);
    void dropReplies();
    bool isFrom(const HTTP_REQUEST_V1& request) const;

    WinsockStartup winsock;
    UniqueSocket connection;
    // The connection's own end: the remote address of the requests it carries.
    sockaddr_in localAddress {};
    // Waited for requests since the last one arrived. The first probe goes at once, so that the kept
    // connection is made while the server is known to accept it.
    DWORD idleMs = ProbeAfterIdleMs;
    bool probing = false;
    // Waited for requests since the probe under way was sent.
    DWORD probingMs = 0;
};
