#include "PipeMessage.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t LengthSize = 4;
constexpr std::uint32_t AbsentString = 0xFFFFFFFF;

void storeLittleEndian32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t loadLittleEndian32(const std::uint8_t* in)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return value;
}

} // namespace

PipeMessage::PipeMessage()
    : buffer_(new std::uint8_t[InitialCapacity])
    , capacity_(InitialCapacity)
    , cursor_(LengthSize)
{
}

void PipeMessage::startMessage() noexcept
{
    cursor_ = LengthSize;
    received_ = 0;
}

void PipeMessage::reserve(std::uint32_t n)
{
    if (capacity_ - cursor_ >= n)
        return;
    const std::uint64_t grown = std::uint64_t(capacity_) + std::max(capacity_, n);
    if (grown > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("pipe message would exceed 4 GiB");
    std::unique_ptr<std::uint8_t[]> larger(new std::uint8_t[static_cast<size_t>(grown)]);
    std::memcpy(larger.get(), buffer_.get(), cursor_);
    buffer_ = std::move(larger);
    capacity_ = static_cast<std::uint32_t>(grown);
}

void PipeMessage::appendByte(std::uint8_t value)
{
    reserve(1);
    buffer_[cursor_++] = value;
}

void PipeMessage::appendInt32(std::int32_t value)
{
    reserve(4);
    storeLittleEndian32(&buffer_[cursor_], static_cast<std::uint32_t>(value));
    cursor_ += 4;
}

void PipeMessage::appendString(const wchar_t* text)
{
    const std::uint64_t bytes = std::uint64_t(std::wcslen(text)) * sizeof(wchar_t);
    if (4 + bytes > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("pipe message would exceed 4 GiB");
    reserve(static_cast<std::uint32_t>(4 + bytes));
    storeLittleEndian32(&buffer_[cursor_], static_cast<std::uint32_t>(bytes));
    std::memcpy(&buffer_[cursor_ + 4], text, static_cast<size_t>(bytes));
    cursor_ += static_cast<std::uint32_t>(4 + bytes);
}

bool PipeMessage::send(HANDLE handle)
{
    const std::uint32_t total = cursor_;
    if (total < LengthSize) // not a message under construction
        return false;
    storeLittleEndian32(buffer_.get(), total - LengthSize);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    return WriteFile(handle, buffer_.get(), total, &written, nullptr) && written == total;
}

bool PipeMessage::readFrom(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    cursor_ = 0;
    received_ = 0;

    std::uint32_t length = 0;
    if (!reader_.readLength(handle, length))
        return false;
    if (length > MaxPayloadSize) {
        reader_.discard();
        return false;
    }
    reserve(length);
    if (!reader_.readPayload(handle, buffer_.get(), length))
        return false;
    received_ = length;
    return true;
}

void PipeMessage::take(void* out, std::uint32_t count)
{
    if (remaining() < count)
        throw malformed_message();
    std::memcpy(out, &buffer_[cursor_], count);
    cursor_ += count;
}

std::uint8_t PipeMessage::readByte()
{
    std::uint8_t value = 0;
    take(&value, 1);
    return value;
}

std::int32_t PipeMessage::readInt32()
{
    std::uint8_t bytes[4];
    take(bytes, 4);
    return static_cast<std::int32_t>(loadLittleEndian32(bytes));
}

void PipeMessage::readString(std::wstring& out)
{
    std::uint8_t countBytes[4];
    take(countBytes, 4);
    const std::uint32_t count = loadLittleEndian32(countBytes);
    if (count == AbsentString)
        throw missing_setting();
    if (remaining() < count) {
        cursor_ -= 4;
        throw malformed_message();
    }
    // With an odd count the last byte belongs to no unit and is skipped.
    std::wstring text(count / sizeof(wchar_t), L'\0');
    std::memcpy(&text[0], &buffer_[cursor_], text.size() * sizeof(wchar_t));
    out = std::move(text);
    cursor_ += count;
}
