#pragma once
// One plain HTTP/1.1 exchange with a server on 127.0.0.1, over Winsock: no proxy, no WinHTTP.
// Failures to connect, send or read throw std::runtime_error.

#include <string>

struct HttpReply {
    int status = 0;
    std::string body;
};

HttpReply loopbackHttp(unsigned short port, const std::string& method, const std::string& target,
                       const std::string& body = std::string());
