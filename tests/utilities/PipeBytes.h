#pragma once
// Raw bytes in and out of pipes, to look at frames to the byte.

#include "Handles.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// An anonymous pipe: what goes into `in` comes out of `out`.
struct AnonymousPipe {
    AnonymousPipe()
    {
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (CreatePipe(&readEnd, &writeEnd, nullptr, 64 * 1024)) {
            out.reset(readEnd);
            in.reset(writeEnd);
        }
    }
    UniqueHandle out;
    UniqueHandle in;
};

inline bool writeBytes(HANDLE handle, const Bytes& bytes)
{
    DWORD written = 0;
    return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// `bytes` in writes of `piece` bytes each, with a pause after each write long enough for a reader
// that waits on the other end to take that piece by itself: the reader sees its frames arrive in
// pieces (one byte at a time, with a piece of 1).
inline bool writeInPieces(HANDLE handle, const Bytes& bytes, size_t piece)
{
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const size_t end = std::min(bytes.size(), at + piece);
        if (!writeBytes(handle, Bytes(bytes.begin() + at, bytes.begin() + end)))
            return false;
        Sleep(2);
    }
    return true;
}

// Exactly `count` bytes, or fewer when the pipe ends first.
inline Bytes readBytes(HANDLE handle, size_t count)
{
    Bytes bytes(count);
    size_t done = 0;
    while (done < count) {
        DWORD read = 0;
        if (!ReadFile(handle, bytes.data() + done, static_cast<DWORD>(count - done), &read, nullptr) || read == 0)
            break;
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

inline Bytes littleEndian32(std::uint32_t value)
{
    return { static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24) };
}

inline Bytes operator+(Bytes left, const Bytes& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// A frame as it travels: the payload's length, then the payload.
inline Bytes frame(const Bytes& payload)
{
    return littleEndian32(static_cast<std::uint32_t>(payload.size())) + payload;
}

// "01 00 00 00 0F": bytes as they are written in a protocol description.
inline std::string hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// A pipe name no other test process uses.
inline std::wstring uniquePipeName(const wchar_t* purpose)
{
    static int counter = 0;
    return L"\\\\.\\pipe\\NimbalTest-" + std::wstring(purpose) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}
