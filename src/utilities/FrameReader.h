#pragma once
// Reads length-prefixed frames from a byte stream (a pipe, standard input) with as few reads as
// the bytes arrive in. Each round through the pipe driver costs as much as a small frame's whole
// trip, so the start of a frame is read with one read that asks for as much as the read-ahead
// holds: a frame that has arrived whole comes in with that one read. What the read brings beyond
// the frame (the next frame, sent back to back) is kept for the next frame. Within a frame only
// what is still missing is asked for, so nothing past the frame is read there.

#include <windows.h>

#include <cstdint>
#include <memory>

class FrameReader {
public:
    static constexpr std::uint32_t ReadAheadSize = 4096;

    FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // The 4-byte little-endian length at the start of the next frame. False when the stream ends
    // or fails before all 4 bytes came.
    bool readLength(HANDLE handle, std::uint32_t& length);
    // The next `count` bytes of the stream into `into`: first what was read ahead, then only what
    // is missing, straight into `into`. A count of 0 reads nothing: a read then would wait for the
    // next frame. False when the stream ends or fails first.
    bool readPayload(HANDLE handle, void* into, std::uint32_t count);
    // Forgets what was read ahead. After a frame that was refused or cut short, the bytes that
    // follow have no frame boundary to be read by.
    void discard() noexcept { begin_ = end_ = 0; }

    // Bytes read ahead and not yet handed out.
    std::uint32_t held() const noexcept { return end_ - begin_; }

private:
    std::unique_ptr<std::uint8_t[]> ahead_;
    std::uint32_t begin_ = 0;
    std::uint32_t end_ = 0;
};
