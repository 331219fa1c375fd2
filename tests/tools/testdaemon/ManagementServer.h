#pragma once
// The daemon's management interface on 127.0.0.1: one client at a time, line commands, replies
// as the Behaviour asks.

#include "Behaviour.h"
#include "Journal.h"
#include "Winsock.h"

#include <deque>
#include <string>

class ManagementServer {
public:
    ManagementServer(const Behaviour& behaviour, unsigned short port, const Journal& journal);

    // Serves until the daemon is to end; the daemon's exit code.
    int run();

private:
    struct Reply {
        ULONGLONG due;
        std::string text;
    };

    bool listenNow();
    void waitForActivity(ULONGLONG now);
    void acceptClient();
    void receive();
    void handle(const std::string& line, ULONGLONG now);
    void queue(std::string text, ULONGLONG due);
    bool sendAll(const std::string& text);
    void sendDueReplies(ULONGLONG now);
    void dropClient();

    const Behaviour behaviour_;
    const unsigned short port_;
    const Journal& journal_;
    ULONGLONG start_ = 0;
    UniqueSocket listener_;
    UniqueSocket client_;
    std::string partialLine_;
    std::deque<Reply> replies_;
    bool sigtermThrown_ = false;  // ends the daemon once its reply is out, or the client is gone
};
