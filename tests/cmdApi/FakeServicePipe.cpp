#include "FakeServicePipe.h"

#include <chrono>

namespace {

// The service's side of the protocol, spelled out here rather than taken from the library.
constexpr std::uint8_t StateRequestCode = 15;
constexpr std::uint32_t PipeMessageLimit = 1024 * 1024;

FileHandle createInstance(const std::wstring& name, DWORD extraFlags)
{
    return FileHandle(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | extraFlags,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                       1024, 1024, 0, nullptr));
}

UniqueHandle manualResetEvent()
{
    return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// Waits for an overlapped operation on `handle`, or for `end`; an ended wait cancels the operation
// and waits for the cancellation, so that `overlapped` is free again. True when it completed.
bool finish(HANDLE handle, OVERLAPPED& overlapped, HANDLE end, DWORD& transferred)
{
    HANDLE waits[] = { overlapped.hEvent, end };
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIo(handle);
        GetOverlappedResult(handle, &overlapped, &transferred, TRUE);
        return false;
    }
    return GetOverlappedResult(handle, &overlapped, &transferred, FALSE) != 0;
}

} // namespace

struct FakeServicePipe::Connection {
    explicit Connection(FileHandle instance) : pipe(std::move(instance)) {}

    FileHandle pipe;
    UniqueHandle end = manualResetEvent();
    UniqueHandle io = manualResetEvent();
    Bytes received;
    std::thread thread;

    // Exactly `count` bytes; false when the client went or the connection was told to end.
    bool read(std::uint8_t* into, DWORD count)
    {
        for (DWORD done = 0; done < count;) {
            OVERLAPPED overlapped {};
            overlapped.hEvent = io.get();
            DWORD got = 0;
            if (!ReadFile(pipe.get(), into + done, count - done, &got, &overlapped)
                && (GetLastError() != ERROR_IO_PENDING || !finish(pipe.get(), overlapped, end.get(), got)))
                return false;
            if (got == 0)
                return false;
            done += got;
        }
        return true;
    }

    bool write(const Bytes& bytes)
    {
        OVERLAPPED overlapped {};
        overlapped.hEvent = io.get();
        DWORD written = 0;
        if (!WriteFile(pipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, &overlapped)
            && (GetLastError() != ERROR_IO_PENDING || !finish(pipe.get(), overlapped, end.get(), written)))
            return false;
        return written == bytes.size();
    }
};

FakeServicePipe::FakeServicePipe(const std::wstring& name)
    : name_(name)
    , stop_(manualResetEvent())
{
    // The first instance fails when another process serves the name already.
    FileHandle first = createInstance(name_, FILE_FLAG_FIRST_PIPE_INSTANCE);
    holdsName_ = first.valid();
    if (holdsName_)
        acceptor_ = std::thread([this, instance = std::move(first)]() mutable { acceptLoop(std::move(instance)); });
}

FakeServicePipe::~FakeServicePipe()
{
    SetEvent(stop_.get());
    if (acceptor_.joinable())
        acceptor_.join();
    dropConnections();
}

void FakeServicePipe::acceptLoop(FileHandle instance)
{
    UniqueHandle connected = manualResetEvent();
    while (instance.valid()) {
        OVERLAPPED overlapped {};
        overlapped.hEvent = connected.get();
        DWORD unused = 0;
        const bool done = ConnectNamedPipe(instance.get(), &overlapped) || GetLastError() == ERROR_PIPE_CONNECTED
            || (GetLastError() == ERROR_IO_PENDING && finish(instance.get(), overlapped, stop_.get(), unused));
        if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0)
            return;
        if (done) {
            auto connection = std::make_shared<Connection>(std::move(instance));
            std::lock_guard<std::mutex> lock(mutex_);
            connections_.push_back(connection);
            connection->thread = std::thread([this, connection] { serve(*connection); });
        }
        instance = createInstance(name_, 0);
    }
}

void FakeServicePipe::serve(Connection& connection)
{
    bool leaveUnread = false;
    for (;;) {
        std::uint8_t length[4];
        if (!connection.read(length, 4))
            break;
        const std::uint32_t size = length[0] | length[1] << 8 | length[2] << 16 | std::uint32_t(length[3]) << 24;
        Bytes payload(size);
        if (size > PipeMessageLimit || !connection.read(payload.data(), size))
            break;

        std::optional<Bytes> reply, stray;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connection.received.insert(connection.received.end(), length, length + 4);
            connection.received.insert(connection.received.end(), payload.begin(), payload.end());
            ++frames_;
            reply = stateReply_;
            stray = strayFrame_;
            if (!payload.empty() && payload[0] == StateRequestCode && hangUps_ > 0) {
                --hangUps_;
                reply.reset();
            }
        }
        framesArrived_.notify_all();

        if (payload.empty() || payload[0] != StateRequestCode)
            continue;
        if (!reply || !connection.write(frame(*reply)))
            break;
        if (stray) {
            leaveUnread = connection.write(frame(*stray));
            break;
        }
    }
    // Disconnecting would discard what the client has not read yet.
    if (!leaveUnread)
        DisconnectNamedPipe(connection.pipe.get());
    connection.pipe.reset();
}

void FakeServicePipe::answerStateRequestsWith(std::optional<Bytes> payload)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stateReply_ = std::move(payload);
}

void FakeServicePipe::hangUpOnNextStateRequests(size_t count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hangUps_ = count;
}

void FakeServicePipe::dieAfterStateRepliesWith(Bytes strayPayload)
{
    std::lock_guard<std::mutex> lock(mutex_);
    strayFrame_ = std::move(strayPayload);
}

void FakeServicePipe::dropConnections()
{
    std::vector<std::shared_ptr<Connection>> running;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running = connections_;
    }
    for (const auto& connection : running) {
        SetEvent(connection->end.get());
        if (connection->thread.joinable())
            connection->thread.join();
    }
}

std::vector<Bytes> FakeServicePipe::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Bytes> bytes;
    for (const auto& connection : connections_)
        bytes.push_back(connection->received);
    return bytes;
}

bool FakeServicePipe::waitForFrames(size_t frames) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return framesArrived_.wait_for(lock, std::chrono::seconds(10), [&] { return frames_ >= frames; });
}
