#pragma once
// A client of the command pipe that speaks in raw bytes, so that requests and replies can be
// looked at to the byte, malformed ones included.

#include "PipeBytes.h"

#include "PipeCommands.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

inline Bytes utf16(const std::wstring& text)
{
    Bytes bytes;
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// A string field: its byte count, then its UTF-16LE units.
inline Bytes stringField(const std::wstring& text)
{
    return littleEndian32(static_cast<std::uint32_t>(text.size() * 2)) + utf16(text);
}

inline const Bytes AbsentField { 0xFF, 0xFF, 0xFF, 0xFF };

// A whole request frame: the code, then each text as a string field.
inline Bytes request(std::uint8_t code, std::initializer_list<std::wstring> texts = {})
{
    Bytes payload { code };
    for (const std::wstring& text : texts)
        payload = payload + stringField(text);
    return frame(payload);
}

class PipeConnection {
public:
    // Connects, waiting for an instance of the pipe for up to `timeoutMs`.
    explicit PipeConnection(const std::wstring& name, DWORD timeoutMs = 30000)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        do {
            pipe_.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (pipe_.valid())
                return;
            if (GetLastError() == ERROR_PIPE_BUSY)
                WaitNamedPipeW(name.c_str(), 1000);
            else
                Sleep(50);
        } while (GetTickCount64() < deadline);
    }

    bool connected() const { return pipe_.valid(); }
    HANDLE handle() const { return pipe_.get(); }
    void close() { pipe_.reset(); }

    bool send(const Bytes& bytes) { return writeBytes(pipe_.get(), bytes); }

    // The payload of the next reply frame; nothing when none comes in time or the pipe ends.
    std::optional<Bytes> reply(DWORD timeoutMs = 30000)
    {
        if (!waitForBytes(4, timeoutMs))
            return std::nullopt;
        const Bytes length = readBytes(pipe_.get(), 4);
        if (length.size() != 4)
            return std::nullopt;
        const std::uint32_t size = length[0] | length[1] << 8 | length[2] << 16 | static_cast<std::uint32_t>(length[3]) << 24;
        const Bytes payload = readBytes(pipe_.get(), size);
        if (payload.size() != size)
            return std::nullopt;
        return payload;
    }

    // Sends a request and takes its reply.
    std::optional<Bytes> ask(const Bytes& requestFrame)
    {
        if (!send(requestFrame))
            return std::nullopt;
        return reply();
    }

    // True when the server ends the connection within `timeoutMs` (nothing more to read).
    bool endedByServer(DWORD timeoutMs = 30000)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr))
                return true;
            if (GetTickCount64() >= deadline)
                return false;
            Sleep(10);
        }
    }

private:
    bool waitForBytes(DWORD count, DWORD timeoutMs)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr))
                return false;
            if (available >= count)
                return true;
            if (GetTickCount64() >= deadline)
                return false;
            Sleep(5);
        }
    }

    FileHandle pipe_;
};

// Replies as the protocol writes them.
inline Bytes stringReply(const std::wstring& text)
{
    return stringField(text);
}
inline Bytes listReply(std::initializer_list<std::wstring> names)
{
    Bytes bytes = littleEndian32(static_cast<std::uint32_t>(names.size()));
    for (const std::wstring& name : names)
        bytes = bytes + stringField(name);
    return bytes;
}

// The reply's bytes as hex, or a marker when there was none, for readable comparisons.
inline std::string shown(const std::optional<Bytes>& reply)
{
    return reply ? hex(*reply) : std::string("<no reply>");
}
