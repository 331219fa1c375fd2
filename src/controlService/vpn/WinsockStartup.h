#pragma once
// Owner of one Windows Sockets start-up: WSACleanup for each WSAStartup that succeeded.

#include <winsock2.h>

class WinsockStartup {
public:
    WinsockStartup() = default;
    ~WinsockStartup()
    {
        if (started_)
            WSACleanup();
    }
    WinsockStartup(const WinsockStartup&) = delete;
    WinsockStartup& operator=(const WinsockStartup&) = delete;

    // Starts version 2.2 unless already started; true once started.
    bool start()
    {
        if (!started_) {
            WSADATA data {};
            started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }
        return started_;
    }
    bool started() const { return started_; }

private:
    bool started_ = false;
};
