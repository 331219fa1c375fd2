#include "PendingReceives.h"

#include <algorithm>

PendingReceives::PendingReceives(size_t count, size_t bufferBytes)
    : bufferBytes(bufferBytes)
{
    for (size_t i = 0; i < count; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->buffer.assign(bufferBytes, 0);
        slot->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (slot->event)
            slots.push_back(std::move(slot));
    }
}

PendingReceives::~PendingReceives()
{
    // Bounded, since a destructor must end: a receive that never ends keeps its slot.
    abandon(5000);
}

void PendingReceives::start(HANDLE queue)
{
    for (const auto& owned : slots) {
        Slot& slot = *owned;
        if (slot.state != Slot::State::Idle || !slot.event)
            continue;
        std::fill(slot.buffer.begin(), slot.buffer.end(), 0);
        ResetEvent(slot.event.get());
        slot.overlapped = OVERLAPPED {};
        slot.overlapped.hEvent = slot.event.get();
        slot.queue = queue;
        if (slot.requestId == HTTP_NULL_ID)
            slot.order = nextOrder++;
        const ULONG result =
            HttpReceiveHttpRequest(queue, slot.requestId, 0, reinterpret_cast<PHTTP_REQUEST>(slot.buffer.data()),
                                   static_cast<ULONG>(slot.buffer.size()), nullptr, &slot.overlapped);
        if (result == ERROR_IO_PENDING) {
            slot.state = Slot::State::Waiting;
        } else if (result == NO_ERROR || result == ERROR_MORE_DATA) {
            // Done at once: the byte count is in the overlapped structure.
            finish(slot);
        } else {
            // Refused before it started: nothing is written into the buffer.
            slot.result = result;
            slot.received = 0;
            slot.state = Slot::State::Done;
        }
    }
}

void PendingReceives::finish(Slot& slot)
{
    DWORD received = 0;
    // Without waiting: the receive has ended, and the queue handle may be closed by now.
    slot.result = GetOverlappedResult(slot.queue, &slot.overlapped, &received, FALSE) ? NO_ERROR : GetLastError();
    slot.received = received;
    slot.state = Slot::State::Done;
}

PendingReceives::Slot* PendingReceives::next(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        Slot* first = nullptr;
        std::vector<HANDLE> events;
        for (const auto& owned : slots) {
            Slot& slot = *owned;
            if (slot.state == Slot::State::Waiting && HasOverlappedIoCompleted(&slot.overlapped))
                finish(slot);
            if (slot.state == Slot::State::Done && (first == nullptr || slot.order < first->order))
                first = &slot;
            else if (slot.state == Slot::State::Waiting)
                events.push_back(slot.event.get());
        }
        if (first != nullptr) {
            first->state = Slot::State::Taken;
            return first;
        }
        const ULONGLONG now = GetTickCount64();
        if (events.empty() || now >= deadline)
            return nullptr;
        const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                                    static_cast<DWORD>(deadline - now));
        if (waited == WAIT_TIMEOUT || waited == WAIT_FAILED)
            return nullptr;
    }
}

void PendingReceives::release(Slot& slot)
{
    slot.requestId = HTTP_NULL_ID;
    slot.state = Slot::State::Idle;
}

void PendingReceives::receiveAgain(Slot& slot, HTTP_REQUEST_ID requestId, ULONG bytes)
{
    slot.requestId = requestId;
    slot.buffer.resize(std::max<size_t>(bytes, slot.buffer.size()), 0);
    slot.state = Slot::State::Idle;
}

bool PendingReceives::abandon(DWORD timeoutMs)
{
    // Each cancel names its own receive, so a queue handle closed meanwhile (and perhaps reused)
    // is harmless to name.
    for (const auto& owned : slots)
        if (owned->state == Slot::State::Waiting)
            CancelIoEx(owned->queue, &owned->overlapped);

    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool allEnded = true;
    for (auto& owned : slots) {
        if (owned->state == Slot::State::Waiting) {
            const ULONGLONG now = GetTickCount64();
            WaitForSingleObject(owned->event.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
            if (!HasOverlappedIoCompleted(&owned->overlapped)) {
                // The API may still write into it: it is never freed.
                (void)owned.release();
                owned = std::make_unique<Slot>();
                owned->buffer.assign(bufferBytes, 0);
                owned->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
                allEnded = false;
            }
        }
        owned->requestId = HTTP_NULL_ID;
        owned->state = Slot::State::Idle;
    }
    return allEnded;
}
