#include "PipeFrames.h"

#include "PipeCommands.h"
#include "PipeMessage.h"

#include <algorithm>

namespace {

using Texts = std::vector<std::wstring>;

const Texts SettingNames {
    L"Fuzz.a", L"Fuzz.b.c", L"Fuzz", L"", L".", L"..", L"a..b", L"Fuzz.", L".Fuzz", L"Fuzz.a.b.c.d.e.f.g.h",
    L"Fuzz.\x00FC\x0416", L"Fuzz.\xD800", std::wstring(L"Fuzz.a\0b", 8), L"Hidden.VpnUser.password",
    L"LastLoginRequestInfo.updateUrl", std::wstring(300, L'n'),
};
const Texts Sids {
    L"S-1-5-21-1004336348-1177238915-682003330-1001", L"S-1-5-18", L"S-1-", L"S-1-5-21-", L"..\\settings", L"",
    L"S-1-5-21-" + std::wstring(200, L'7'),
};
const Texts ServerIds { L"nl1", L"de-fra-01", L"../x", L"", L".hidden", L"a b", std::wstring(400, L's') };
const Texts RequiredStates { L"true", L"TRUE", L"false", L"", std::wstring(L"true\0", 5) };

const std::uint32_t InterestingCounts[] = {
    0, 1, 2, 3, 4, 0x7F, 0x80, 0xFF, 1023, 1024, 1025, 0x7FFF, 0xFFFF, 0x10000,
    0x100000, 0x100001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF,
};
const std::uint8_t InterestingBytes[] = { 0, 1, 0x7F, 0x80, 0xFE, 0xFF };

// Codes that carry at least one string, as the frames that fill a buffer need.
const std::vector<std::uint8_t> StringCodes { CMD_GET_SETTING, CMD_SET_SETTING, CMD_NOOP, CMD_LIST_SETTINGS,
                                              CMD_LIST_FOLDERS, CMD_REMOVE_SETTING, CMD_SET_USER,
                                              CMD_SET_REQUIRED_STATE, CMD_LAUNCH_APP, CMD_CONNECT_TO_SERVER };

void append32(Bytes& bytes, std::uint32_t value)
{
    const Bytes le = littleEndian32(value);
    bytes.insert(bytes.end(), le.begin(), le.end());
}

std::uint32_t read32(const Bytes& bytes, size_t at)
{
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 | std::uint32_t(bytes[at + 2]) << 16 |
           std::uint32_t(bytes[at + 3]) << 24;
}

std::wstring randomText(Random& random)
{
    std::wstring text(random.size(24, 2000), L'\0');
    const unsigned range = random.below(3);
    for (wchar_t& unit : text) {
        if (range == 0)
            unit = static_cast<wchar_t>(random.between(0x20, 0x7E));
        else if (range == 1)
            unit = static_cast<wchar_t>(random.below(0x80));
        else
            unit = static_cast<wchar_t>(random.below(0x10000));
    }
    return text;
}

std::wstring textFrom(Random& random, const Texts& known)
{
    return random.percent(70) ? random.pick(known) : randomText(random);
}

void appendString(Random& random, Bytes& payload, const std::wstring& text)
{
    // Now and then a string that is sent as absent.
    if (random.percent(5)) {
        append32(payload, 0xFFFFFFFF);
        return;
    }
    append32(payload, static_cast<std::uint32_t>(text.size() * 2));
    for (wchar_t unit : text) {
        payload.push_back(static_cast<std::uint8_t>(unit));
        payload.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
}

std::uint8_t randomCode(Random& random, const PipeProfile& profile)
{
    std::uint8_t code = random.percent(85) ? static_cast<std::uint8_t>(random.between(1, 17)) : random.byte();
    if (code == 12 && random.percent(80))
        code = CMD_NOOP;
    if (code == CMD_POST_LOGS && profile.slowCommandsRare && !random.percent(5))
        code = CMD_GET_SETTING;
    return code;
}

// A request as a client of the protocol sends it: the code, then the fields of its command.
Bytes wellFormedPayload(Random& random, std::uint8_t code)
{
    Bytes payload { code };
    switch (code) {
    case CMD_GET_SETTING:
    case CMD_REMOVE_SETTING:
    case CMD_LIST_SETTINGS:
    case CMD_LIST_FOLDERS:
        appendString(random, payload, textFrom(random, SettingNames));
        break;
    case CMD_SET_SETTING:
        appendString(random, payload, textFrom(random, SettingNames));
        appendString(random, payload, randomText(random));
        break;
    case CMD_SET_USER:
        appendString(random, payload, textFrom(random, Sids));
        break;
    case CMD_SET_REQUIRED_STATE:
        appendString(random, payload, textFrom(random, RequiredStates));
        break;
    case CMD_CONNECT_TO_SERVER:
        appendString(random, payload, textFrom(random, ServerIds));
        break;
    case CMD_NOOP:
    case CMD_LAUNCH_APP:
        appendString(random, payload, randomText(random));
        break;
    case CMD_GET_UPDATE_URL:
    case CMD_RUN_UPDATE:
    case CMD_RESTART_UPDATE_CHECK:
    case CMD_POST_LOGS:
    case CMD_GET_VPN_STATE:
    case CMD_GET_SERVERS_LIST:
        break;
    default:
        // No command: whatever follows is never read.
        for (unsigned i = random.below(3); i > 0; --i)
            appendString(random, payload, randomText(random));
        break;
    }
    return payload;
}

void damage(Random& random, Bytes& payload)
{
    for (unsigned round = random.between(1, 3); round > 0; --round) {
        const auto at = [&] { return random.below(static_cast<std::uint32_t>(payload.size())); };
        switch (random.below(8)) {
        case 0:
            if (!payload.empty())
                payload[at()] ^= static_cast<std::uint8_t>(1u << random.below(8));
            break;
        case 1:
            if (!payload.empty())
                payload[at()] = InterestingBytes[random.below(sizeof InterestingBytes)];
            break;
        case 2: {
            // A count that lies, mostly where the first string's count stands.
            const std::uint32_t value = InterestingCounts[random.below(sizeof InterestingCounts / 4)];
            const size_t place = payload.size() >= 5 && random.percent(60) ? 1 : at();
            for (int i = 0; i < 4 && place + i < payload.size(); ++i)
                payload[place + i] = static_cast<std::uint8_t>(value >> (8 * i));
            break;
        }
        case 3:
            payload.resize(random.below(static_cast<std::uint32_t>(payload.size()) + 1));
            break;
        case 4:
            for (unsigned n = random.between(1, 16); n > 0; --n)
                payload.push_back(random.byte());
            break;
        case 5:
            payload.insert(payload.begin() + at(), random.between(1, 8), random.byte());
            break;
        case 6:
            if (!payload.empty()) {
                const size_t from = at();
                const size_t count = std::min<size_t>(random.between(1, 8), payload.size() - from);
                payload.erase(payload.begin() + from, payload.begin() + from + count);
            }
            break;
        default:
            if (!payload.empty())
                payload[0] = random.byte();
            break;
        }
    }
}

Bytes randomBytes(Random& random, std::uint32_t count)
{
    Bytes bytes(count);
    for (std::uint8_t& b : bytes)
        b = random.byte();
    return bytes;
}

// The stream cut into 1 to 4 writes at random places.
std::vector<Bytes> splitRandomly(Random& random, const Bytes& stream)
{
    std::vector<Bytes> writes;
    size_t at = 0;
    for (unsigned left = random.between(1, 4); left > 1 && at < stream.size(); --left) {
        const size_t piece = random.between(1, static_cast<std::uint32_t>(stream.size() - at));
        writes.emplace_back(stream.begin() + at, stream.begin() + at + piece);
        at += piece;
    }
    if (at < stream.size() || writes.empty())
        writes.emplace_back(stream.begin() + at, stream.end());
    return writes;
}

// A command line of CMD_LAUNCH_APP would start a program: every such text becomes U+7878 units,
// which name none. The stream is walked frame by frame as the server reads it.
void defuseLaunches(PipeBatch& batch)
{
    Bytes stream = batch.stream();
    size_t at = 0;
    while (stream.size() - at >= 4) {
        const std::uint32_t length = read32(stream, at);
        if (length > PipeMessage::MaxPayloadSize)
            break;
        const size_t payload = at + 4;
        if (payload < stream.size() && stream[payload] == CMD_LAUNCH_APP) {
            const size_t end = std::min<size_t>(payload + length, stream.size());
            for (size_t i = payload + 5; i < end; ++i)
                stream[i] = 'x';
        }
        at = payload + length;
        if (at >= stream.size())
            break;
    }
    size_t next = 0;
    for (Bytes& write : batch.writes) {
        std::copy(stream.begin() + next, stream.begin() + next + write.size(), write.begin());
        next += write.size();
    }
}

Bytes requestPayload(Random& random, const PipeProfile& profile, bool damaged)
{
    Bytes payload = wellFormedPayload(random, randomCode(random, profile));
    if (damaged)
        damage(random, payload);
    return payload;
}

} // namespace

Bytes PipeBatch::stream() const
{
    Bytes all;
    for (const Bytes& write : writes)
        all.insert(all.end(), write.begin(), write.end());
    return all;
}

PipeBatch makePipeBatch(Random& random, const PipeProfile& profile)
{
    PipeBatch batch;
    const unsigned frames = random.between(1, 6);
    const unsigned shape = random.below(10);
    if (shape < 5) {
        // Whole frames, each payload well-formed or damaged, written a frame at a time, all in one
        // write, cut anywhere, or a few bytes at a time: the server reads frames, not writes.
        batch.kind = "framed requests";
        batch.framed = true;
        batch.frames = frames;
        Bytes stream;
        for (unsigned i = 0; i < frames; ++i) {
            const Bytes bytes = frame(requestPayload(random, profile, random.percent(50)));
            batch.writes.push_back(bytes);
            stream.insert(stream.end(), bytes.begin(), bytes.end());
        }
        const unsigned writing = random.below(10);
        if (writing < 2) {
            batch.kind += ", in one write";
            batch.writes = { stream };
        } else if (writing < 4) {
            batch.kind += ", cut anywhere";
            batch.writes = splitRandomly(random, stream);
        } else if (writing < 5) {
            // One byte a write for short streams; longer ones in small pieces, to keep a case short.
            batch.kind += ", a few bytes at a time";
            const std::uint32_t most = stream.size() <= 256 ? 1 : 16;
            batch.writes.clear();
            for (size_t at = 0; at < stream.size();) {
                const size_t piece = std::min<size_t>(random.between(1, most), stream.size() - at);
                batch.writes.emplace_back(stream.begin() + at, stream.begin() + at + piece);
                at += piece;
            }
        }
    } else if (shape < 8) {
        // One frame's length lies: longer than what follows, too long to take, or shorter.
        batch.kind = "a lying length";
        Bytes stream;
        const unsigned liar = random.below(frames);
        for (unsigned i = 0; i < frames; ++i) {
            const Bytes payload = requestPayload(random, profile, random.percent(30));
            std::uint32_t length = static_cast<std::uint32_t>(payload.size());
            if (i == liar) {
                switch (random.below(4)) {
                case 0:
                    length += random.between(1, 64);
                    break;
                case 1:
                    length = InterestingCounts[random.below(sizeof InterestingCounts / 4)];
                    break;
                case 2:
                    length = PipeMessage::MaxPayloadSize + random.below(2);
                    break;
                default:
                    length -= std::min(length, random.between(1, 8));
                    break;
                }
            }
            append32(stream, length);
            stream.insert(stream.end(), payload.begin(), payload.end());
        }
        batch.writes = random.percent(50) ? std::vector<Bytes> { stream } : splitRandomly(random, stream);
    } else if (shape < 9) {
        // Frames cut short: the stream ends inside a length or inside a payload.
        batch.kind = "a cut stream";
        Bytes stream;
        for (unsigned i = 0; i < frames; ++i) {
            const Bytes bytes = frame(requestPayload(random, profile, random.percent(30)));
            stream.insert(stream.end(), bytes.begin(), bytes.end());
        }
        stream.resize(random.below(static_cast<std::uint32_t>(stream.size())));
        if (stream.empty())
            stream = Bytes(random.between(1, 3), random.byte());
        batch.writes = splitRandomly(random, stream);
    } else {
        batch.kind = "random bytes";
        batch.writes = splitRandomly(random, randomBytes(random, random.between(1, 300)));
    }
    defuseLaunches(batch);
    return batch;
}

PipeBatch makeEdgeBatch(Random& random, std::uint32_t payloadSize)
{
    PipeBatch batch;
    batch.framed = true;
    batch.frames = 1;
    const std::uint8_t code = random.pick(StringCodes);
    Bytes payload { code };
    const std::uint32_t room = payloadSize - 5; // after the code and the first count
    switch (random.below(4)) {
    case 0:
        // The first string claims a few bytes more than the frame has.
        batch.kind = "a buffer-filling frame whose string runs past its end";
        append32(payload, room + random.between(1, 8));
        break;
    case 1: {
        // The second string's count is cut by the frame's end (or begins exactly there).
        batch.kind = "a buffer-filling frame ending inside a count";
        payload[0] = CMD_SET_SETTING;
        const std::uint32_t cut = random.below(4);
        append32(payload, (room - cut) & ~1u);
        payload.resize(payloadSize - cut, 'F');
        while (payload.size() < payloadSize)
            payload.push_back(0xFF);
        break;
    }
    case 2:
        // The second string is absent, its FF FF FF FF the last bytes of the frame.
        batch.kind = "a buffer-filling frame ending in an absent string";
        payload[0] = CMD_SET_SETTING;
        append32(payload, room - 4);
        payload.resize(payloadSize - 4, 'F');
        append32(payload, 0xFFFFFFFF);
        break;
    default:
        // An odd count that ends exactly at the frame's end: its last byte is no unit.
        batch.kind = "a buffer-filling frame whose string ends at its end";
        append32(payload, room);
        break;
    }
    while (payload.size() < payloadSize)
        payload.push_back(static_cast<std::uint8_t>(random.between(0x20, 0x7E)));
    batch.writes.push_back(frame(payload));
    defuseLaunches(batch);
    return batch;
}
