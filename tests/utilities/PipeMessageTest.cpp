#include "PipeBytes.h"
#include "PipeMessage.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

namespace {

// What send() puts on the pipe, byte for byte.
Bytes sentBytes(PipeMessage& message)
{
    AnonymousPipe pipe;
    EXPECT_TRUE(message.send(pipe.in.get()));
    pipe.in.reset();
    return readBytes(pipe.out.get(), 1 << 20);
}

// readFrom() on a pipe that carries exactly `bytes` and then ends.
bool receive(PipeMessage& message, const Bytes& bytes)
{
    AnonymousPipe pipe;
    std::thread writer([&] {
        writeBytes(pipe.in.get(), bytes);
        pipe.in.reset();
    });
    const bool received = message.readFrom(pipe.out.get());
    pipe.out.reset(); // a writer stuck behind a refused frame ends here
    writer.join();
    return received;
}

Bytes contents(const PipeMessage& message)
{
    return Bytes(message.data(), message.data() + message.size());
}

// The payload of the frame just read.
Bytes payloadOf(const PipeMessage& message)
{
    return Bytes(message.data(), message.data() + message.remaining());
}

Bytes framesOf(const std::vector<Bytes>& payloads)
{
    Bytes stream;
    for (const Bytes& payload : payloads)
        stream = stream + frame(payload);
    return stream;
}

} // namespace

TEST(PipeMessageFrame, FieldsAreLaidOutToTheByte)
{
    struct Case {
        const char* name;
        std::function<void(PipeMessage&)> build;
        const char* frame;
    };
    const Case cases[] = {
        { "nothing", [](PipeMessage&) {}, "00 00 00 00" },
        { "code 15 alone", [](PipeMessage& m) { m.appendByte(15); }, "01 00 00 00 0F" },
        { "empty text", [](PipeMessage& m) { m.appendString(L""); }, "04 00 00 00 00 00 00 00" },
        { "code and text", [](PipeMessage& m) { m.appendByte(6); m.appendString(L"ab"); },
          "09 00 00 00 06 04 00 00 00 61 00 62 00" },
        { "text stops at its first zero", [](PipeMessage& m) { m.appendString(std::wstring(L"ab\0cd", 5)); },
          "08 00 00 00 04 00 00 00 61 00 62 00" },
        { "UTF-16LE units", [](PipeMessage& m) { m.appendString(L"\u00e9\u20ac"); },
          "08 00 00 00 04 00 00 00 E9 00 AC 20" },
        { "int32 little-endian", [](PipeMessage& m) { m.appendInt32(0x12345678); m.appendInt32(-1); },
          "08 00 00 00 78 56 34 12 FF FF FF FF" },
    };
    for (const Case& c : cases) {
        PipeMessage message;
        c.build(message);
        EXPECT_EQ(hex(sentBytes(message)), c.frame) << c.name;
    }
}

TEST(PipeMessageFrame, StartMessageDropsWhatWasWrittenBefore)
{
    PipeMessage message;
    message.appendString(L"old request");
    message.startMessage();
    message.appendByte(15);
    EXPECT_EQ(hex(sentBytes(message)), "01 00 00 00 0F");
}

TEST(PipeMessageFrame, SendOnNoHandleFailsButStoresTheLength)
{
    PipeMessage message;
    message.appendByte(15);
    message.appendInt32(7);
    EXPECT_FALSE(message.send(INVALID_HANDLE_VALUE));
    EXPECT_EQ(hex(contents(message)), "05 00 00 00 0F 07 00 00 00");
}

TEST(PipeMessageFrame, SendFailsWhenWriteFails)
{
    AnonymousPipe pipe;
    PipeMessage message;
    message.appendByte(15);
    EXPECT_FALSE(message.send(pipe.out.get())); // the reading end takes no writes
}

TEST(PipeMessageFrame, AShortWriteIsAFailure)
{
    // A non-blocking pipe takes only what fits in its small buffer.
    const std::wstring name = uniquePipeName(L"short-write");
    FileHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_NOWAIT,
                                       1, 64, 64, 0, nullptr));
    ASSERT_TRUE(server.valid());
    FileHandle client(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(client.valid());

    PipeMessage message;
    message.appendString(std::wstring(50000, L'x'));
    EXPECT_FALSE(message.send(server.get()));
}

TEST(PipeMessageGrowth, CapacityGrowsByTheLargerOfItselfAndTheNeed)
{
    struct Case {
        const char* name;
        std::uint32_t bytesBefore; // written after the length, before the growing call
        std::function<void(PipeMessage&)> grow;
        std::uint32_t capacity;
    };
    const auto appendBytes = [](PipeMessage& m, std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i)
            m.appendByte(static_cast<std::uint8_t>(i));
    };
    const Case cases[] = {
        { "last free byte", 1019, [](PipeMessage& m) { m.appendByte(1); }, 1024 },
        { "byte on a full buffer", 1020, [](PipeMessage& m) { m.appendByte(1); }, 2048 },
        { "int32 with two bytes free", 1018, [](PipeMessage& m) { m.appendInt32(1); }, 2048 },
        { "3000-byte string on a full buffer", 1020, [](PipeMessage& m) { m.appendString(std::wstring(1498, L'x')); },
          4024 },
        { "reserve 5000 on an empty buffer", 0, [](PipeMessage& m) { m.reserve(5000); }, 6024 },
        { "reserve what is free", 0, [](PipeMessage& m) { m.reserve(1020); }, 1024 },
        { "reserve the capacity on a full buffer", 1020, [](PipeMessage& m) { m.reserve(1024); }, 2048 },
    };
    for (const Case& c : cases) {
        PipeMessage message;
        appendBytes(message, c.bytesBefore);
        const Bytes before = contents(message);
        c.grow(message);
        EXPECT_EQ(message.capacity(), c.capacity) << c.name;
        EXPECT_TRUE(Bytes(message.data() + 4, message.data() + before.size()) == Bytes(before.begin() + 4, before.end()))
            << c.name << ": bytes written before growing were lost";
    }
}

TEST(PipeMessageGrowth, ABufferGrownOnceKeepsItsSize)
{
    PipeMessage message;
    message.reserve(5000);
    message.startMessage();
    message.appendByte(15);
    EXPECT_EQ(message.capacity(), 6024u);
    EXPECT_EQ(hex(sentBytes(message)), "01 00 00 00 0F");
}

TEST(PipeMessageGrowth, GrowthBeyondWhatCanBeHadLeavesTheBufferAsItWas)
{
    struct Case {
        const char* name;
        std::uint32_t need;
        bool tooLargeForThirtyTwoBits;
    };
    const Case cases[] = {
        { "capacity would pass 32 bits", 0xFFFFFFFF, true },
        { "capacity would just pass 32 bits", 0xFFFFFC00, true },
        { "no memory for almost 4 GiB", 0xFFFFFB00, false },
    };
    for (const Case& c : cases) {
        PipeMessage message;
        message.appendByte(15);
        if (c.tooLargeForThirtyTwoBits)
            EXPECT_THROW(message.reserve(c.need), std::length_error) << c.name;
        else
            EXPECT_THROW(message.reserve(c.need), std::bad_alloc) << c.name;
        EXPECT_EQ(message.capacity(), 1024u) << c.name;
        EXPECT_EQ(message.size(), 5u) << c.name;
        EXPECT_EQ(hex(sentBytes(message)), "01 00 00 00 0F") << c.name;
    }
}

TEST(PipeMessageRead, FieldsComeBackAsTheyWereWritten)
{
    PipeMessage sent;
    sent.appendByte(1);
    sent.appendString(L"Hidden.VpnUser.login");
    sent.appendString(L"");
    sent.appendInt32(-2);
    sent.appendString(L"\u00e9t\u00e9");
    const Bytes bytes = sentBytes(sent);

    PipeMessage received;
    ASSERT_TRUE(receive(received, bytes));
    EXPECT_EQ(received.remaining(), bytes.size() - 4);
    std::wstring text = L"not overwritten";
    EXPECT_EQ(received.readByte(), 1);
    received.readString(text);
    EXPECT_EQ(text, L"Hidden.VpnUser.login");
    received.readString(text);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(received.readInt32(), -2);
    received.readString(text);
    EXPECT_EQ(text, L"\u00e9t\u00e9");
    EXPECT_EQ(received.remaining(), 0u);
}

TEST(PipeMessageRead, AbsentStringRaisesMissingSettingAndTheNextFieldStillReads)
{
    PipeMessage message;
    ASSERT_TRUE(receive(message, frame(littleEndian32(0xFFFFFFFF) + Bytes { 2, 0, 0, 0, 'a', 0 })));
    std::wstring text = L"kept";
    EXPECT_THROW(message.readString(text), missing_setting);
    EXPECT_EQ(text, L"kept");
    message.readString(text);
    EXPECT_EQ(text, L"a");
}

TEST(PipeMessageRead, OddCountSkipsItsLastByte)
{
    PipeMessage message;
    ASSERT_TRUE(receive(message, frame({ 3, 0, 0, 0, 'a', 0, 'b', 7 })));
    std::wstring text;
    message.readString(text);
    EXPECT_EQ(text, L"a");
    EXPECT_EQ(message.readByte(), 7);
}

TEST(PipeMessageRead, FieldsRunningPastThePayloadAreMalformed)
{
    struct Case {
        const char* name;
        Bytes payload;
        std::function<void(PipeMessage&)> read;
    };
    std::wstring text;
    const auto readString = [&text](PipeMessage& m) { m.readString(text); };
    const Case cases[] = {
        { "code from an empty payload", {}, [](PipeMessage& m) { m.readByte(); } },
        { "int32 from three bytes", { 1, 2, 3 }, [](PipeMessage& m) { m.readInt32(); } },
        { "string count from two bytes", { 4, 0 }, readString },
        { "string longer than what follows", { 10, 0, 0, 0, 'a', 0, 'b', 0 }, readString },
        { "string count near 2 GiB", littleEndian32(0x7FFFFFFF) + Bytes { 'a', 0 }, readString },
        { "string count of FFFFFFFE", littleEndian32(0xFFFFFFFE), readString },
    };
    for (const Case& c : cases) {
        PipeMessage message;
        ASSERT_TRUE(receive(message, frame(c.payload))) << c.name;
        EXPECT_THROW(c.read(message), malformed_message) << c.name;
        EXPECT_EQ(message.remaining(), c.payload.size()) << c.name << ": the cursor moved";
    }
}

TEST(PipeMessageRead, ReadersStopAtThisFrameNotAtTheBufferEnd)
{
    // The buffer still holds the longer frame read before: none of it may show through.
    PipeMessage message;
    ASSERT_TRUE(receive(message, frame(Bytes(100, 'A'))));
    ASSERT_TRUE(receive(message, frame({ 20, 0, 0, 0, 'a', 0 })));
    std::wstring text;
    EXPECT_THROW(message.readString(text), malformed_message);
    EXPECT_TRUE(text.empty());
}

TEST(PipeMessageRead, NothingIsReadableWhileAMessageIsBeingWritten)
{
    PipeMessage message;
    ASSERT_TRUE(receive(message, frame({ 15 })));
    message.startMessage();
    message.appendByte(3);
    EXPECT_THROW(message.readByte(), malformed_message);
}

TEST(PipeMessageRead, EmptyFrameIsReadWithoutWaitingForMore)
{
    // The writer stays open: a read of the empty payload would wait for bytes that never come.
    AnonymousPipe pipe;
    ASSERT_TRUE(writeBytes(pipe.in.get(), frame({})));
    PipeMessage message;
    ASSERT_TRUE(message.readFrom(pipe.out.get()));
    EXPECT_EQ(message.remaining(), 0u);
    EXPECT_THROW(message.readByte(), malformed_message);
}

TEST(PipeMessageRead, LongFramesGrowTheBufferByTheRule)
{
    PipeMessage message;
    ASSERT_TRUE(receive(message, frame(Bytes(3000, 'x'))));
    EXPECT_EQ(message.capacity(), 4024u);
    EXPECT_EQ(message.remaining(), 3000u);
}

TEST(PipeMessageRead, LengthsAboveOneMebibyteAreRefusedBeforeAllocating)
{
    struct Case {
        std::uint32_t length;
        bool accepted;
        std::uint32_t capacity;
    };
    const Case cases[] = {
        { 1048576, true, 1024 + 1048576 },
        { 1048577, false, 1024 },
        { 0x7FFFFFFF, false, 1024 },
        { 0xFFFFFFFF, false, 1024 },
    };
    for (const Case& c : cases) {
        PipeMessage message;
        ASSERT_TRUE(receive(message, frame({ 15 }))); // something a refused frame must not leave readable
        const Bytes payload(c.accepted ? c.length : 16, 'p');
        EXPECT_EQ(receive(message, littleEndian32(c.length) + payload), c.accepted) << c.length;
        EXPECT_EQ(message.capacity(), c.capacity) << c.length;
        EXPECT_EQ(message.remaining(), c.accepted ? c.length : 0u) << c.length;
        if (c.accepted) {
            EXPECT_TRUE(payloadOf(message) == payload) << c.length << ": the payload was not stored as sent";
        }
    }
}

TEST(PipeMessageRead, ShortOrFailedReadsAreFailures)
{
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        { "nothing at all", {} },
        { "half a length", { 5, 0 } },
        { "payload cut short", littleEndian32(10) + Bytes { 1, 2, 3 } },
    };
    for (const Case& c : cases) {
        PipeMessage message;
        EXPECT_FALSE(receive(message, c.bytes)) << c.name;
        EXPECT_THROW(message.readByte(), malformed_message) << c.name;
    }
    PipeMessage message;
    EXPECT_FALSE(message.readFrom(INVALID_HANDLE_VALUE));
}

TEST(PipeMessageArrival, FramesComeOutWholeHoweverTheirBytesArrive)
{
    struct Case {
        const char* name;
        std::vector<Bytes> payloads;
        size_t piece; // bytes per write; 0: the whole stream in one write
    };
    std::vector<Bytes> many;
    for (int i = 0; i < 1000; ++i)
        many.push_back(Bytes(i % 7, static_cast<std::uint8_t>(i)));
    const Case cases[] = {
        { "two frames in one write", { { 15 }, { 6, 2, 0, 0, 0, 'a', 0 } }, 0 },
        { "one byte at a time", { { 6, 4, 0, 0, 0, 'a', 0, 'b', 0 }, { 15 } }, 1 },
        { "writes that cut lengths and payloads", { { 1, 2, 3 }, { 15 }, Bytes(40, 'p'), { 9 } }, 3 },
        { "an empty frame between two", { { 15 }, {}, { 15 } }, 0 },
        { "a frame longer than one read takes, and one behind it", { Bytes(20000, 'L'), { 15 } }, 0 },
        { "a thousand small frames in one write", many, 0 },
    };
    for (const Case& c : cases) {
        const Bytes stream = framesOf(c.payloads);
        AnonymousPipe pipe;
        std::thread writer([&] {
            writeInPieces(pipe.in.get(), stream, c.piece == 0 ? stream.size() : c.piece);
            pipe.in.reset();
        });
        PipeMessage message;
        size_t frames = 0;
        while (frames < c.payloads.size() && message.readFrom(pipe.out.get()) &&
               payloadOf(message) == c.payloads[frames])
            ++frames;
        EXPECT_EQ(frames, c.payloads.size()) << c.name << ": frame " << frames << " did not come out as sent";
        // The writer has closed its end: the next read ends instead of waiting.
        EXPECT_FALSE(message.readFrom(pipe.out.get())) << c.name;
        pipe.out.reset();
        writer.join();
    }
}

TEST(PipeMessageArrival, WhatHasArrivedIsTakenInOneReadAndWhatFollowsTheFrameIsKept)
{
    AnonymousPipe pipe;
    ASSERT_TRUE(writeBytes(pipe.in.get(), frame({ 15 }) + frame({ 9, 8 }) + littleEndian32(3) + Bytes { 1 }));
    PipeMessage message;
    ASSERT_TRUE(message.readFrom(pipe.out.get()));
    EXPECT_EQ(hex(payloadOf(message)), "0F");
    DWORD left = 0;
    ASSERT_TRUE(PeekNamedPipe(pipe.out.get(), nullptr, 0, nullptr, &left, nullptr));
    EXPECT_EQ(left, 0u) << "the bytes that had arrived were not taken with one read";

    // The second frame is one the first read took along; the third is completed from the pipe,
    // and the frame written behind its last bytes is the next one read.
    ASSERT_TRUE(message.readFrom(pipe.out.get()));
    EXPECT_EQ(hex(payloadOf(message)), "09 08");
    ASSERT_TRUE(writeBytes(pipe.in.get(), Bytes { 2, 3 } + frame({ 4 })));
    ASSERT_TRUE(message.readFrom(pipe.out.get()));
    EXPECT_EQ(hex(payloadOf(message)), "01 02 03");
    ASSERT_TRUE(message.readFrom(pipe.out.get()));
    EXPECT_EQ(hex(payloadOf(message)), "04");
}

TEST(PipeMessageArrival, AFrameThatNeverArrivesWholeEndsWhenTheWriterCloses)
{
    struct Case {
        const char* name;
        Bytes bytes;
        unsigned wholeFrames;
    };
    const Case cases[] = {
        { "half a length", { 5, 0 }, 0 },
        { "ten bytes of a hundred", littleEndian32(100) + Bytes(10, 'p'), 0 },
        { "a mebibyte promised, one byte sent", littleEndian32(PipeMessage::MaxPayloadSize) + Bytes { 1 }, 0 },
        { "a frame cut short behind a whole one", frame({ 15 }) + littleEndian32(8) + Bytes { 1, 2 }, 1 },
    };
    for (const Case& c : cases) {
        AnonymousPipe pipe;
        std::thread writer([&] {
            writeBytes(pipe.in.get(), c.bytes);
            Sleep(100); // the reader waits for the rest by now
            pipe.in.reset();
        });
        PipeMessage message;
        for (unsigned i = 0; i < c.wholeFrames; ++i)
            EXPECT_TRUE(message.readFrom(pipe.out.get())) << c.name;
        EXPECT_FALSE(message.readFrom(pipe.out.get())) << c.name;
        EXPECT_EQ(message.remaining(), 0u) << c.name;
        writer.join();
    }
}

TEST(PipeMessageArrival, AHandleInMessageReadModeReadsFramesLongerThanOneRead)
{
    // The service's instances are message pipes read in byte mode; a client may read its end in
    // message mode, where a read that cannot take a whole message fails with ERROR_MORE_DATA.
    const std::wstring name = uniquePipeName(L"message-mode");
    FileHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1024, 1024, 0, nullptr));
    ASSERT_TRUE(server.valid());
    FileHandle client(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(client.valid());
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(client.get(), &mode, nullptr, nullptr));

    const std::vector<Bytes> payloads { Bytes(10000, 'm'), { 15 } };
    std::thread writer([&] {
        for (const Bytes& payload : payloads)
            writeBytes(server.get(), frame(payload));
    });
    PipeMessage message;
    for (const Bytes& payload : payloads) {
        const bool read = message.readFrom(client.get());
        EXPECT_TRUE(read) << payload.size();
        if (!read)
            break;
        EXPECT_TRUE(payloadOf(message) == payload) << payload.size();
    }
    client.reset(); // a writer left behind a failed read ends here
    writer.join();
}
