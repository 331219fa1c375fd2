#include "DuplexPipe.h"

DuplexPipe::DuplexPipe(const std::wstring& name, DWORD withinMs)
    : readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    , writeDone(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    const ULONGLONG deadline = GetTickCount64() + withinMs;
    do {
        pipe.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr));
        if (pipe.valid())
            return;
        if (GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeW(name.c_str(), 1000);
        else
            Sleep(20);
    } while (GetTickCount64() < deadline);
}

DuplexPipe::~DuplexPipe()
{
    if (readPending) {
        CancelIoEx(pipe.get(), &readState);
        finishRead(true);
    }
}

void DuplexPipe::startRead()
{
    // Reads that complete at once are taken in one after another, as many as a reply stream of
    // this size can need.
    for (int reads = 0; reads < 4096 && !readPending && !ended; ++reads) {
        readState = OVERLAPPED {};
        readState.hEvent = readDone.get();
        ResetEvent(readDone.get());
        if (ReadFile(pipe.get(), chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &readState) ||
            GetLastError() == ERROR_MORE_DATA) {
            finishRead(false);
            continue;
        }
        if (GetLastError() == ERROR_IO_PENDING)
            readPending = true;
        else
            ended = true;
    }
}

void DuplexPipe::finishRead(bool wait)
{
    DWORD count = 0;
    const BOOL done = GetOverlappedResult(pipe.get(), &readState, &count, wait);
    readPending = false;
    if (count > 0)
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + count);
    if (!done && GetLastError() != ERROR_MORE_DATA)
        ended = true;
}

DuplexPipe::Written DuplexPipe::write(const Bytes& data, DWORD withinMs)
{
    OVERLAPPED writeState {};
    writeState.hEvent = writeDone.get();
    ResetEvent(writeDone.get());
    if (!WriteFile(pipe.get(), data.data(), static_cast<DWORD>(data.size()), nullptr, &writeState) &&
        GetLastError() != ERROR_IO_PENDING)
        return Written::Ended;

    const ULONGLONG deadline = GetTickCount64() + withinMs;
    for (;;) {
        startRead();
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const HANDLE events[] = { writeDone.get(), readDone.get() };
        const DWORD signalled = WaitForMultipleObjects(readPending ? 2 : 1, events, FALSE, left);
        if (signalled == WAIT_OBJECT_0 + 1) {
            finishRead(false);
            continue;
        }
        DWORD written = 0;
        if (signalled == WAIT_OBJECT_0) {
            const BOOL done = GetOverlappedResult(pipe.get(), &writeState, &written, FALSE);
            return done && written == data.size() ? Written::All : Written::Ended;
        }
        // Out of time: the write is called off before its state goes out of scope.
        CancelIoEx(pipe.get(), &writeState);
        GetOverlappedResult(pipe.get(), &writeState, &written, TRUE);
        return Written::TimedOut;
    }
}

bool DuplexPipe::readUntil(const std::function<bool(const Bytes&)>& enough, DWORD withinMs)
{
    const ULONGLONG deadline = GetTickCount64() + withinMs;
    for (;;) {
        // Reads that complete at once bring their bytes in here already.
        startRead();
        if (enough(bytes))
            return true;
        const ULONGLONG now = GetTickCount64();
        if (!readPending || now >= deadline)
            return false;
        if (WaitForSingleObject(readDone.get(), static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
            return enough(bytes);
        finishRead(false);
    }
}

std::vector<Bytes> wholeFrames(const Bytes& stream)
{
    std::vector<Bytes> frames;
    size_t at = 0;
    while (stream.size() - at >= 4) {
        const std::uint32_t length = std::uint32_t(stream[at]) | std::uint32_t(stream[at + 1]) << 8 |
                                     std::uint32_t(stream[at + 2]) << 16 | std::uint32_t(stream[at + 3]) << 24;
        if (stream.size() - at - 4 < length)
            break;
        frames.emplace_back(stream.begin() + at + 4, stream.begin() + at + 4 + length);
        at += 4 + length;
    }
    return frames;
}
