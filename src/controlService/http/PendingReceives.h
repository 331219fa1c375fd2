#pragma once
// Receives kept waiting on a request queue, each into a buffer of its own, so that a request that
// arrives while another is handled is taken at once. Wine's HTTP driver hands a request that
// arrived with no receive waiting to a later receive only by chance (it looks at one connection),
// so with a single receive a client that comes while another is served may never be answered.
// The requests are taken one at a time, in the order their receives were started, which is the
// order the driver fills them in.

#include "HttpApiUse.h"

#include "Handles.h"

#include <cstdint>
#include <memory>
#include <vector>

class PendingReceives {
public:
    // One receive into a buffer of its own.
    struct Slot {
        // The request record and the strings it points to; grown when the API asks for more.
        std::vector<unsigned char> buffer;
        // The API's null id, or the id of a request to receive again into a larger buffer.
        HTTP_REQUEST_ID requestId = HTTP_NULL_ID;
        // The API's result and the byte count it reported (the size it needs after ERROR_MORE_DATA).
        ULONG result = NO_ERROR;
        ULONG received = 0;

        HTTP_REQUEST_V1* request() { return reinterpret_cast<HTTP_REQUEST_V1*>(buffer.data()); }

    private:
        friend class PendingReceives;
        // Idle until started; Waiting on the API; Done, with its result; Taken by the caller.
        enum class State { Idle, Waiting, Done, Taken };
        State state = State::Idle;
        OVERLAPPED overlapped {};
        UniqueHandle event;
        HANDLE queue = nullptr;
        // The order of the receive: kept when the same request is received again.
        std::uint64_t order = 0;
    };

    // `count` receives, each into a zero-filled buffer of `bufferBytes`.
    PendingReceives(size_t count, size_t bufferBytes);
    // Waits for every receive still waiting: the API writes into their buffers until they end.
    ~PendingReceives();
    PendingReceives(const PendingReceives&) = delete;
    PendingReceives& operator=(const PendingReceives&) = delete;

    // Starts a receive on `queue` for every slot without one, each buffer zero-filled first.
    void start(HANDLE queue);
    // The finished receive started first, waiting up to `timeoutMs` for one; null when none
    // finished in time. The slot is the caller's until `release`.
    Slot* next(DWORD timeoutMs);
    // The slot receives a new request with the next `start`.
    void release(Slot& slot);
    // The slot receives the request `requestId` again with the next `start`, into a buffer of at
    // least `bytes`, and keeps its place in the order.
    void receiveAgain(Slot& slot, HTTP_REQUEST_ID requestId, ULONG bytes);
    // Waits for every receive to end, after the queue they wait on was closed (which ends them),
    // and forgets what they received. False when one did not end within `timeoutMs`: its buffer
    // is then left to the API and the slot replaced.
    bool abandon(DWORD timeoutMs);

private:
    void finish(Slot& slot);

    std::vector<std::unique_ptr<Slot>> slots;
    const size_t bufferBytes;
    std::uint64_t nextOrder = 1;
};
