#pragma once
// The browser's native-messaging frames: a 32-bit length in native byte order, then the text.

#include "FrameReader.h"
#include "Handles.h"

#include <cstdint>
#include <optional>
#include <string>

class MessageChannel {
public:
    static constexpr std::uint32_t MaxMessageLength = 100;

    // Reads frames from `input` (standard input; not owned) and writes them to `frames` only.
    MessageChannel(HANDLE input, UniqueHandle frames);

    // The next request text, up to its first zero byte; none at the end of input or for a
    // length outside 1 to MaxMessageLength, whose text is left unread (the host ends there, and
    // drops what the read of the length brought of it). A request that has arrived whole is read
    // with one read; requests behind it that the read brought along are kept for the next call.
    std::optional<std::string> read();

    // Whether the whole frame was written.
    bool write(const std::string& text);

private:
    HANDLE input_;
    FrameReader reader_;
    UniqueHandle frames_;
};
