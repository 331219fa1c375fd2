#pragma once
// The browser's native-messaging frames: a 32-bit length in native byte order, then the text.

#include "Handles.h"

#include <cstdint>
#include <optional>
#include <string>

class MessageChannel {
public:
    static constexpr std::uint32_t MaxMessageLength = 100;

    // Reads from standard input (in binary mode); writes frames to `frames` only.
    explicit MessageChannel(UniqueHandle frames);

    // The next request text, up to its first zero byte; none at the end of input or for a
    // length outside 1 to MaxMessageLength, whose text is left unread.
    std::optional<std::string> read();

    // Whether the whole frame was written.
    bool write(const std::string& text);

private:
    UniqueHandle frames_;
};
