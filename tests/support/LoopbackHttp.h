#pragma once
// Plain HTTP/1.1 exchanges with a server on 127.0.0.1, over Winsock: no proxy, no WinHTTP.
// Failures to connect, send or read throw std::runtime_error.

#include <memory>
#include <string>

struct HttpReply {
    int status = 0;
    std::string reason;
    std::string headers;  // the header lines after the status line, each ending in CR LF
    std::string body;
};

// One request on a connection of its own, which the server is asked to close after its reply.
// `headers` are further request header lines, each ending in CR LF.
HttpReply loopbackHttp(unsigned short port, const std::string& method, const std::string& target,
                       const std::string& body = std::string(), const std::string& headers = std::string());

// Sends `request` as it stands on a connection of its own and reads the reply.
HttpReply loopbackExchange(unsigned short port, const std::string& request);

// One connection kept open for request after request.
//
// Wine's HTTP Server API now and then stops taking new connections once earlier ones have closed,
// and drops a request whose bytes do not reach it in one burst: its tests send every request on
// one connection, and a request the server closed the connection on unanswered, which the program
// behind the API never saw, is sent again on a new one.
class LoopbackConnection {
public:
    explicit LoopbackConnection(unsigned short port);
    ~LoopbackConnection();
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    HttpReply request(const std::string& method, const std::string& target, const std::string& body = std::string(),
                      const std::string& headers = std::string());

private:
    struct Socket;
    const unsigned short port;
    std::unique_ptr<Socket> socket;
};
