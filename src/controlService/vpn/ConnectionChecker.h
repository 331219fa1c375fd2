#pragma once
// The controller's management connection to the daemon on 127.0.0.1: the port it chooses for the
// next start, and the "state" query. Not thread-safe: its owner serialises the calls.

#include "WinsockStartup.h"

#include "SocketHandle.h"

#include <string>

class ConnectionChecker {
public:
    // What checkState found.
    enum State : int {
        TunnelUp = 0,    // the second field of the "state" answer is "CONNECTED"
        EndAlone = 1,    // the answer was nothing but "END\n"
        NotUp = 2,       // anything else: no answer, an error, another state
    };

    ConnectionChecker() = default;
    ~ConnectionChecker();
    ConnectionChecker(const ConnectionChecker&) = delete;
    ConnectionChecker& operator=(const ConnectionChecker&) = delete;

    void initSockets();
    // 0 becomes 5555; a busy port is passed over upward, wrapping from 65535 to 1024. False, with
    // the port left as it was, when no socket can be made or 100 ports in a row are busy.
    bool updateVpnPort();
    int checkState();
    // Asks "state" every 200 ms until the daemon stops answering, for about 10 s at most.
    void waitForDaemonExit();
    bool sendCommand(const std::string& command);
    // closesocket's result, or -1 when there was no socket.
    int closeSocket();

    int port() const { return port_; }
    void setPort(int port) { port_ = port; }
    bool connected() const { return connected_; }
    bool socketsReady() const { return sockets_.started(); }

private:
    // Connects and reads the greeting; false (the socket closed) when either fails.
    bool connectToDaemon();

    int port_ = 0;
    WinsockStartup sockets_;
    UniqueSocket socket_;
    bool connected_ = false;
};
