// The pipe frame buffer under AddressSanitizer: frames read from a fake pipe that hands out the
// fuzzer's bytes in pieces of the sizes it chooses (in byte or in message read mode), fields taken
// in the order the fuzzer chooses, and a reply written back into the same buffer. The bytes of the array past the payload received are poisoned while the fields are
// read, so a reader that looks one byte beyond the frame stops the run.
//
// Every outcome is compared with a plain decoder of exactly the received payload. Wide units are
// this platform's wchar_t (4 bytes on Linux), as PipeMessage itself uses them here.

#include "PipeMessage.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The stream arrives in pieces, their sizes taken in turn from `pieces` (one piece of all of it
// when there are none). A read hands out what is left of the current piece, as much as it asks
// for: in byte mode what has arrived, in message mode the rest of one message, where a read too
// small for it fails with ERROR_MORE_DATA after taking what it could. Writes collect.
struct FakePipe {
    Bytes incoming;
    std::vector<std::uint16_t> pieces;
    bool messageMode = false;
    size_t taken = 0;
    size_t nextPiece = 0;
    size_t pieceLeft = 0;
    unsigned reads = 0;
    Bytes written;
};

DWORD fakeLastError = 0;

constexpr size_t MaxFrames = 16;
constexpr std::uint32_t Absent = 0xFFFFFFFF;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "pipe frame fuzz: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

std::uint32_t le32(const Bytes& bytes, size_t at)
{
    return std::uint32_t(bytes.at(at)) | std::uint32_t(bytes.at(at + 1)) << 8 | std::uint32_t(bytes.at(at + 2)) << 16 |
           std::uint32_t(bytes.at(at + 3)) << 24;
}

void putLe32(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

enum class Outcome { Value, Malformed, Missing };

struct Field {
    Outcome outcome = Outcome::Value;
    int kind = 0; // 0 byte, 1 int32, 2 string
    std::uint32_t number = 0;
    std::wstring text;
};

// The received payload decoded field by field, never past its end.
class Decoder {
public:
    explicit Decoder(const Bytes& payload) : payload(payload) {}

    Field read(int kind)
    {
        Field field;
        field.kind = kind;
        const size_t left = payload.size() - at;
        if (kind == 0 || kind == 1) {
            const size_t width = kind == 0 ? 1 : 4;
            if (left < width) {
                field.outcome = Outcome::Malformed;
                return field;
            }
            field.number = kind == 0 ? payload.at(at) : le32(payload, at);
            at += width;
            return field;
        }
        if (left < 4) {
            field.outcome = Outcome::Malformed;
            return field;
        }
        const std::uint32_t count = le32(payload, at);
        if (count == Absent) {
            at += 4;
            field.outcome = Outcome::Missing;
            return field;
        }
        if (left - 4 < count) {
            field.outcome = Outcome::Malformed;
            return field;
        }
        for (size_t unit = 0; unit < count / sizeof(wchar_t); ++unit) {
            std::uint32_t value = 0;
            for (size_t b = 0; b < sizeof(wchar_t); ++b)
                value |= std::uint32_t(payload.at(at + 4 + unit * sizeof(wchar_t) + b)) << (8 * b);
            field.text.push_back(static_cast<wchar_t>(value));
        }
        at += 4 + count;
        return field;
    }

    size_t remaining() const { return payload.size() - at; }

private:
    const Bytes& payload;
    size_t at = 0;
};

Field readWithBuffer(PipeMessage& message, int kind)
{
    Field field;
    field.kind = kind;
    try {
        if (kind == 0)
            field.number = message.readByte();
        else if (kind == 1)
            field.number = static_cast<std::uint32_t>(message.readInt32());
        else
            message.readString(field.text);
    } catch (const malformed_message&) {
        field.outcome = Outcome::Malformed;
    } catch (const missing_setting&) {
        field.outcome = Outcome::Missing;
    }
    return field;
}

// Capacity after making room for `need` bytes past `cursor`: grown by the larger of itself and the need.
std::uint32_t grownCapacity(std::uint32_t capacity, std::uint32_t cursor, std::uint32_t need)
{
    if (capacity - cursor >= need)
        return capacity;
    return capacity + std::max(capacity, need);
}

// Writes the fields that were read back as a reply, and compares the frame sent with its encoding.
void replyWith(PipeMessage& message, FakePipe& pipe, const std::vector<Field>& fields)
{
    Bytes expected(4, 0);
    std::uint32_t capacity = message.capacity();
    message.startMessage();
    for (const Field& field : fields) {
        if (field.outcome != Outcome::Value)
            continue;
        std::uint32_t need = 0;
        if (field.kind == 0) {
            message.appendByte(static_cast<std::uint8_t>(field.number));
            expected.push_back(static_cast<std::uint8_t>(field.number));
            need = 1;
        } else if (field.kind == 1) {
            message.appendInt32(static_cast<std::int32_t>(field.number));
            putLe32(expected, field.number);
            need = 4;
        } else {
            // Only the units before the first zero are sent.
            const std::wstring sent(field.text.c_str());
            message.appendString(field.text);
            putLe32(expected, static_cast<std::uint32_t>(sent.size() * sizeof(wchar_t)));
            for (wchar_t unit : sent)
                for (size_t b = 0; b < sizeof(wchar_t); ++b)
                    expected.push_back(static_cast<std::uint8_t>(std::uint32_t(unit) >> (8 * b)));
            need = static_cast<std::uint32_t>(4 + sent.size() * sizeof(wchar_t));
        }
        capacity = grownCapacity(capacity, static_cast<std::uint32_t>(expected.size() - need), need);
    }
    const std::uint32_t payloadSize = static_cast<std::uint32_t>(expected.size() - 4);
    for (int i = 0; i < 4; ++i)
        expected[i] = static_cast<std::uint8_t>(payloadSize >> (8 * i));

    pipe.written.clear();
    check(message.send(&pipe), "send failed");
    check(pipe.written == expected, "the reply frame differs from its encoding");
    check(message.capacity() == capacity, "the reply's growth broke the growth rule");
}

} // namespace

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED)
{
    auto* pipe = static_cast<FakePipe*>(file);
    ++pipe->reads;
    *read = 0;
    const size_t left = pipe->incoming.size() - pipe->taken;
    if (toRead > 0 && left == 0) {
        fakeLastError = ERROR_BROKEN_PIPE; // the client has gone
        return 0;
    }
    if (pipe->pieceLeft == 0) {
        pipe->pieceLeft = pipe->pieces.empty() ? left
                                               : std::min<size_t>(pipe->pieces[pipe->nextPiece++ % pipe->pieces.size()], left);
    }
    const size_t count = std::min<size_t>(toRead, pipe->pieceLeft);
    if (count > 0)
        std::memcpy(buffer, pipe->incoming.data() + pipe->taken, count);
    pipe->taken += count;
    pipe->pieceLeft -= count;
    *read = static_cast<DWORD>(count);
    if (pipe->messageMode && pipe->pieceLeft > 0) {
        fakeLastError = ERROR_MORE_DATA;
        return 0;
    }
    return 1;
}

DWORD GetLastError()
{
    return fakeLastError;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED)
{
    auto* pipe = static_cast<FakePipe*>(file);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    pipe->written.insert(pipe->written.end(), bytes, bytes + toWrite);
    *written = toWrite;
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const size_t readCount = input.ConsumeIntegralInRange<size_t>(0, 24);
    const Bytes reads = input.ConsumeBytes<std::uint8_t>(readCount);
    FakePipe pipe;
    pipe.messageMode = input.ConsumeBool();
    for (size_t n = input.ConsumeIntegralInRange<size_t>(0, 6); n > 0; --n)
        pipe.pieces.push_back(input.ConsumeIntegralInRange<std::uint16_t>(1, 6000));
    pipe.incoming = input.ConsumeRemainingBytes<std::uint8_t>();

    PipeMessage message;
    // Where the next frame begins: what the reader took from the pipe beyond it is its read-ahead.
    size_t at = 0;
    for (size_t frame = 0; frame < MaxFrames; ++frame) {
        // What a correct reader of the stream makes of the next frame.
        const size_t left = pipe.incoming.size() - at;
        const std::uint32_t length = left >= 4 ? le32(pipe.incoming, at) : 0;
        const bool lengthAccepted = left >= 4 && length <= PipeMessage::MaxPayloadSize;
        const bool whole = lengthAccepted && left - 4 >= length;
        const std::uint32_t capacityBefore = message.capacity();
        const size_t heldBefore = pipe.taken - at;
        const unsigned readsBefore = pipe.reads;

        const bool read = message.readFrom(&pipe);
        check(read == whole, "readFrom disagrees with the frame's length and the bytes that followed");
        check(message.capacity() == (lengthAccepted ? grownCapacity(capacityBefore, 0, length) : capacityBefore),
              "reading a frame broke the growth rule");
        if (!read)
            break;

        const size_t end = at + 4 + length;
        const Bytes payload(pipe.incoming.begin() + at + 4, pipe.incoming.begin() + end);
        check(payload.empty() || std::memcmp(message.data(), payload.data(), payload.size()) == 0,
              "the payload was not stored as received");
        check(message.remaining() == length, "a new frame is not read from its start");
        check(pipe.taken - end <= FrameReader::ReadAheadSize, "more was read past the frame than can be kept");
        // A stream that is all there is read in at most two reads a frame: one that asks for all the
        // read-ahead holds, and one for the rest of a frame longer than that. A frame that begins a
        // read and fits takes that one read alone.
        if (pipe.pieces.empty() && !pipe.messageMode) {
            const unsigned frameReads = pipe.reads - readsBefore;
            check(frameReads <= 2, "a frame that was all there took more than two reads");
            if (heldBefore == 0 && 4 + length <= FrameReader::ReadAheadSize)
                check(frameReads == 1, "a frame that was all there and fits one read took more than one");
        }
        at = end;

        // Nothing past the payload may be read while its fields are taken.
        ASAN_POISON_MEMORY_REGION(message.data() + length, message.capacity() - length);
        Decoder decoder(payload);
        std::vector<Field> fields;
        for (std::uint8_t choice : reads) {
            const int kind = choice % 3;
            const size_t leftBefore = message.remaining();
            const Field got = readWithBuffer(message, kind);
            const Field want = decoder.read(kind);
            check(got.outcome == want.outcome, "a field read differently from its decoding");
            check(got.number == want.number && got.text == want.text, "a field's value differs from its decoding");
            check(message.remaining() == decoder.remaining(), "the cursor moved differently from the decoding");
            if (got.outcome == Outcome::Malformed)
                check(message.remaining() == leftBefore, "a malformed field moved the cursor");
            fields.push_back(got);
        }
        ASAN_UNPOISON_MEMORY_REGION(message.data() + length, message.capacity() - length);

        replyWith(message, pipe, fields);
    }
    return 0;
}
