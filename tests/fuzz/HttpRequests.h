#pragma once
// Requests to the control server as a fuzzing client makes them, with what the reply must be where
// the request decides it, and a raw exchange that sends a request in one piece and reads what comes.
//
// Every request is addressed so that Wine's HTTP Server API hands it to the service: the Host is
// 127.0.0.1 and the port, and the path is one of the 26 or lies below one. Requests that address no
// registered URL never reach the service under Wine; it neither answers them nor lets go of their
// connection, and afterwards now and then takes no new ones for a while.

#include "FuzzRun.h"

#include <string>
#include <vector>

struct HttpCase {
    enum class Expect {
        Anything,   // a whole HTTP reply if any; the service's own answer is not foreseeable
        Exactly,    // this status and this body
        Status,     // this status, any body
        StateName,  // 200 and one of the VPN state names
    };

    std::string kind;
    std::string request;  // as sent, in one piece
    Expect expect = Expect::Anything;
    int status = 0;
    std::string body;
};

HttpCase makeHttpCase(Random& random, unsigned short port);

struct RawReply {
    bool answered = false;  // a whole reply came
    std::string raw;        // everything that came
    int status = 0;
    std::string reason;
    std::string headers;    // the header lines, each ending in CR LF
    std::string body;
    bool fromService = false;  // its content type is the service's own, not the API's
};

// Sends `request` on a new connection in one piece and reads one reply, waiting at most `waitMs`
// for each part of it. Needs Winsock started.
RawReply rawExchange(unsigned short port, const std::string& request, unsigned waitMs);

// The first accepted "name=" of a form body as the service reads it, or false without one.
bool formField(const std::string& body, const std::string& name, std::string& value);
