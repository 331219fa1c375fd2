#include "FrameReader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t LengthSize = 4;

// One ReadFile that brings at least one byte. A pipe read in byte mode returns what has arrived,
// up to `size`; one read in message mode that cannot take the whole message fails with
// ERROR_MORE_DATA and has still brought `size` bytes, the rest of the message coming next. A read
// of nothing (the end of a file, or of a stream) ends the stream as a failure does.
bool readSome(HANDLE handle, std::uint8_t* into, std::uint32_t size, std::uint32_t& got)
{
    DWORD read = 0;
    const bool done = ReadFile(handle, into, size, &read, nullptr) || GetLastError() == ERROR_MORE_DATA;
    got = read;
    return done && read > 0 && read <= size;
}

} // namespace

FrameReader::FrameReader()
    : ahead_(new std::uint8_t[ReadAheadSize])
{
}

bool FrameReader::readLength(HANDLE handle, std::uint32_t& length)
{
    while (held() < LengthSize) {
        // Room for as much as one read can bring: what is held moves to the front.
        std::memmove(ahead_.get(), ahead_.get() + begin_, held());
        end_ -= begin_;
        begin_ = 0;
        std::uint32_t got = 0;
        if (!readSome(handle, ahead_.get() + end_, ReadAheadSize - end_, got)) {
            discard();
            return false;
        }
        end_ += got;
    }
    length = 0;
    for (std::uint32_t i = 0; i < LengthSize; ++i)
        length |= static_cast<std::uint32_t>(ahead_[begin_ + i]) << (8 * i);
    begin_ += LengthSize;
    return true;
}

bool FrameReader::readPayload(HANDLE handle, void* into, std::uint32_t count)
{
    auto* out = static_cast<std::uint8_t*>(into);
    const std::uint32_t fromAhead = std::min(held(), count);
    if (fromAhead > 0)
        std::memcpy(out, ahead_.get() + begin_, fromAhead);
    begin_ += fromAhead;
    if (begin_ == end_)
        discard();

    for (std::uint32_t done = fromAhead; done < count;) {
        std::uint32_t got = 0;
        if (!readSome(handle, out + done, count - done, got)) {
            discard();
            return false;
        }
        done += got;
    }
    return true;
}
