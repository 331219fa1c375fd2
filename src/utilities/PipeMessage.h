#pragma once
// One frame of the pipe protocol: a 32-bit little-endian payload length, then the payload.
// Fields inside the payload are bytes, little-endian int32s and counted UTF-16LE strings.

#include "FrameReader.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

// A string field sent as absent (count FF FF FF FF).
class missing_setting : public std::exception {};

// A field that runs past the payload received, or a read where nothing was received.
class malformed_message : public std::runtime_error {
public:
    malformed_message() : std::runtime_error("malformed pipe message") {}
};

// A growable buffer, reused for every message of one connection end.
//
// Writing: startMessage(), append...(), send(). The first 4 bytes are left for the length.
// Reading: readFrom() stores the payload from the start of the buffer; readByte(), readInt32()
// and readString() take the fields in order and never read past the payload received.
class PipeMessage {
public:
    static constexpr std::uint32_t InitialCapacity = 1024;
    // Longer frames are refused before anything is allocated for them.
    static constexpr std::uint32_t MaxPayloadSize = 1024 * 1024;

    PipeMessage();
    PipeMessage(const PipeMessage&) = delete;
    PipeMessage& operator=(const PipeMessage&) = delete;

    // Starts a new outgoing message: the cursor goes 4 bytes past the start.
    void startMessage() noexcept;

    // Makes room for n more bytes after the cursor. Throws std::length_error when the buffer
    // would outgrow 32 bits and std::bad_alloc when memory runs out; either leaves it unchanged.
    void reserve(std::uint32_t n);
    void appendByte(std::uint8_t value);
    void appendInt32(std::int32_t value);
    // The units before the first zero; the zero itself is not sent.
    void appendString(const wchar_t* text);
    void appendString(const std::wstring& text) { appendString(text.c_str()); }

    // Writes the message under construction as one frame.
    bool send(HANDLE handle);
    // Reads one frame; afterwards the cursor is on the first payload byte. The frame is read with
    // one read when it has arrived whole; bytes that came with it beyond its end are kept for the
    // next call, so the handle must be read through this buffer only.
    bool readFrom(HANDLE handle);

    // Readers of a received payload. They throw malformed_message when the field runs past the
    // payload (the cursor then stays where it was); readString throws missing_setting for an
    // absent string, with the cursor past its count.
    std::uint8_t readByte();
    std::int32_t readInt32();
    void readString(std::wstring& out);

    const std::uint8_t* data() const noexcept { return buffer_.get(); }
    // Distance of the cursor from the start: the frame's size while writing.
    std::uint32_t size() const noexcept { return cursor_; }
    std::uint32_t capacity() const noexcept { return capacity_; }
    // Payload bytes received and not yet read.
    std::uint32_t remaining() const noexcept { return cursor_ < received_ ? received_ - cursor_ : 0; }

private:
    void take(void* out, std::uint32_t count);

    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint32_t capacity_;
    std::uint32_t cursor_;
    std::uint32_t received_ = 0; // payload bytes of the last frame read; 0 while writing
    FrameReader reader_;
};
