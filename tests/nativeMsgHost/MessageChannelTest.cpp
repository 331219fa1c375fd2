// The host's reader of the browser's frames, on a pipe that stands in for standard input.
#include "MessageChannel.h"

#include "PipeBytes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

const std::string IsRunning = R"({"text":"isRunning"})";
const std::string IsInstalled = R"({"text":"isInstalled"})";

Bytes message(const std::string& text)
{
    return frame(Bytes(text.begin(), text.end()));
}

// What the channel reads from `input`, written in pieces of `piece` bytes (all at once with 0),
// until it reads nothing more; then the writer closes its end.
Texts readAll(const Bytes& input, size_t piece)
{
    AnonymousPipe pipe;
    std::thread writer([&] {
        writeInPieces(pipe.in.get(), input, piece == 0 ? input.size() : piece);
        pipe.in.reset();
    });
    MessageChannel channel(pipe.out.get(), UniqueHandle());
    Texts texts;
    // More reads than any case has requests would be a reader that makes texts up.
    for (int reads = 0; reads < 16; ++reads) {
        const std::optional<std::string> text = channel.read();
        if (!text)
            break;
        texts.push_back(*text);
    }
    pipe.out.reset(); // a writer behind a request that ended the reading stops here
    writer.join();
    return texts;
}

} // namespace

TEST(HostChannel, RequestsComeOutWholeHoweverTheirBytesArrive)
{
    const std::string hundred = IsRunning + std::string(100 - IsRunning.size(), ' ');
    struct Case {
        const char* name;
        Bytes input;
        size_t piece;
        Texts texts;
    };
    const Case cases[] = {
        { "two requests in one write", message(IsRunning) + message(IsInstalled), 0, { IsRunning, IsInstalled } },
        { "one byte at a time", message(IsRunning) + message(IsInstalled), 1, { IsRunning, IsInstalled } },
        { "writes that cut lengths and texts", message(IsRunning) + message("x") + message(IsInstalled), 3,
          { IsRunning, "x", IsInstalled } },
        { "exactly 100 bytes, and a request behind it", message(hundred) + message(IsRunning), 0,
          { hundred, IsRunning } },
        { "101 bytes end the reading", message(hundred + " ") + message(IsRunning), 0, {} },
        { "101 bytes one at a time end the reading too", message(hundred + " "), 1, {} },
        { "an empty message ends the reading", message(IsRunning) + message("") + message(IsRunning), 0,
          { IsRunning } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(readAll(c.input, c.piece), c.texts) << c.name;
}

TEST(HostChannel, WhatHasArrivedIsTakenInOneReadAndTheNextRequestIsKept)
{
    AnonymousPipe pipe;
    ASSERT_TRUE(writeBytes(pipe.in.get(), message(IsRunning) + message(IsInstalled)));
    MessageChannel channel(pipe.out.get(), UniqueHandle());
    EXPECT_EQ(channel.read(), IsRunning);
    DWORD left = 0;
    ASSERT_TRUE(PeekNamedPipe(pipe.out.get(), nullptr, 0, nullptr, &left, nullptr));
    EXPECT_EQ(left, 0u) << "the bytes that had arrived were not taken with one read";
    EXPECT_EQ(channel.read(), IsInstalled);
    pipe.in.reset();
    EXPECT_EQ(channel.read(), std::nullopt);
}

TEST(HostChannel, ALengthThatPromisesMoreThanArrivesEndsWhenTheInputEnds)
{
    struct Case {
        const char* name;
        Bytes input;
    };
    const Case cases[] = {
        { "half a length", { 20, 0 } },
        { "ten bytes of fifty", littleEndian32(50) + Bytes(10, 'x') },
        { "a hundred promised, one byte sent", littleEndian32(100) + Bytes { '{' } },
    };
    for (const Case& c : cases) {
        AnonymousPipe pipe;
        std::thread writer([&] {
            writeBytes(pipe.in.get(), c.input);
            Sleep(100); // the reader waits for the rest by now
            pipe.in.reset();
        });
        MessageChannel channel(pipe.out.get(), UniqueHandle());
        EXPECT_EQ(channel.read(), std::nullopt) << c.name;
        writer.join();
    }
}
