#include "MessageChannel.h"

#include <array>
#include <cstdint>
#include <cstring>

MessageChannel::MessageChannel(HANDLE input, UniqueHandle frames)
    : input_(input)
    , frames_(std::move(frames))
{
}

std::optional<std::string> MessageChannel::read()
{
    // The length is little-endian, the native order of the machines the host runs on.
    std::uint32_t length = 0;
    if (!reader_.readLength(input_, length))
        return std::nullopt;
    if (length == 0 || length > MaxMessageLength)
        return std::nullopt;

    // A message cut short by the end of input was never sent whole: it is not answered.
    std::array<char, MaxMessageLength> buffer {};
    if (!reader_.readPayload(input_, buffer.data(), length))
        return std::nullopt;
    return std::string(buffer.data(), strnlen(buffer.data(), length));
}

bool MessageChannel::write(const std::string& text)
{
    const auto length = static_cast<std::uint32_t>(text.size());
    std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
    frame += text;

    // Straight to the handle: nothing stays buffered in the process, so there is nothing to flush.
    const char* next = frame.data();
    DWORD left = static_cast<DWORD>(frame.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(frames_.get(), next, left, &written, nullptr) || written == 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}
