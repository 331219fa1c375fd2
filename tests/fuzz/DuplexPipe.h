#pragma once
// A client end of the command pipe that takes in what the server sends while it writes. A client
// that writes many requests without reading blocks the server in its reply, and the server then
// stops reading and blocks the client: a deadlock of the client's making, which this one avoids.

#include "PipeBytes.h"

#include <windows.h>

#include <functional>
#include <vector>

class DuplexPipe {
public:
    // Connects, waiting for an instance of the pipe for up to `withinMs`.
    DuplexPipe(const std::wstring& name, DWORD withinMs);
    ~DuplexPipe();
    DuplexPipe(const DuplexPipe&) = delete;
    DuplexPipe& operator=(const DuplexPipe&) = delete;

    bool connected() const { return pipe.valid(); }

    enum class Written { All, Ended, TimedOut };
    // Writes all of `bytes` in one WriteFile, taking in replies meanwhile. Ended: the server closed
    // the connection first.
    Written write(const Bytes& bytes, DWORD withinMs);

    // Takes in replies until `enough` holds for all received so far, the server closes the
    // connection, or `withinMs` has passed; returns whether `enough` held.
    bool readUntil(const std::function<bool(const Bytes&)>& enough, DWORD withinMs);

    const Bytes& received() const { return bytes; }

private:
    void startRead();
    void finishRead(bool wait);

    FileHandle pipe;
    UniqueHandle readDone;
    UniqueHandle writeDone;
    OVERLAPPED readState {};
    bool readPending = false;
    bool ended = false;
    std::vector<std::uint8_t> chunk = std::vector<std::uint8_t>(4096);
    Bytes bytes;
};

// The payloads of the whole frames at the start of `stream`.
std::vector<Bytes> wholeFrames(const Bytes& stream);
