// Pipe round trips, timed one by one:
//   pipe_bench compare COUNT          CMD_GET_VPN_STATE through CommandsClient to the running service,
//                                     and the same frame sizes through two bare echo servers (child
//                                     processes), COUNT each, in alternating bursts. The plain pair
//                                     moves each frame with one read on each end; the framed pair
//                                     reads the length and then the payload, which shows what a
//                                     second read a frame costs on this platform.
//   pipe_bench mixed COUNT PER_PIPE   a mix of answered commands, a new connection every PER_PIPE
//   pipe_bench host-floor             the floor of the native-messaging road: each framed message on
//                                     standard input, taken with one read, costs one bare echo round
//                                     trip, then a fixed reply
//   pipe_bench echo-server NAME [framed]  the bare echo server itself
// Each but the last two prints one JSON line; the exit code is 0 only when every answer was the
// expected one.

#include "BenchFigures.h"

#include "CommandsClient.h"
#include "Handles.h"
#include "PipeCommands.h"
#include "PipeMessage.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int WarmUpRoundTrips = 200;
// Service and echo pair take turns this many round trips at a time, so that a change in the
// machine's load falls on both alike.
constexpr int BurstRoundTrips = 100;
// The service's own pipe parameters, so that the bare pair differs from it only in what runs above.
constexpr DWORD PipeBufferSize = 1024;
// The request and the reply of CMD_GET_VPN_STATE: a 4-byte length and one byte each.
constexpr DWORD FrameSize = 5;
constexpr DWORD EchoServerLimitMs = 10 * 60 * 1000;
constexpr DWORD ClientLimitMs = 10 * 60 * 1000;
constexpr DWORD PipeAppearsWithinMs = 20000;

int fail(const char* what)
{
    std::fprintf(stderr, "pipe_bench: %s (error %lu)\n", what, GetLastError());
    return 1;
}

// Reads exactly `count` bytes with one call.
bool readExactly(HANDLE pipe, void* into, DWORD count)
{
    DWORD read = 0;
    return ReadFile(pipe, into, count, &read, nullptr) && read == count;
}

// Answers every frame with its own bytes until the client goes away.
int echoServer(const wchar_t* name, bool framed)
{
    endProcessAfter(EchoServerLimitMs);
    UniqueHandle pipe(CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, PipeBufferSize, PipeBufferSize, 0, nullptr));
    if (!pipe)
        return fail("CreateNamedPipeW");
    if (!ConnectNamedPipe(pipe.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
        return fail("ConnectNamedPipe");
    char frame[PipeBufferSize];
    for (;;) {
        DWORD read = 0;
        DWORD written = 0;
        if (framed) {
            std::uint32_t length = 0;
            // A read of zero bytes would wait for the next frame, as in the protocol's reader.
            if (!readExactly(pipe.get(), &length, 4) || length > sizeof frame - 4 ||
                (length > 0 && !readExactly(pipe.get(), frame + 4, length)))
                break;
            std::memcpy(frame, &length, 4);
            read = 4 + length;
        } else if (!ReadFile(pipe.get(), frame, sizeof frame, &read, nullptr) || read == 0) {
            break;
        }
        if (!WriteFile(pipe.get(), frame, read, &written, nullptr) || written != read)
            break;
    }
    DisconnectNamedPipe(pipe.get());
    return 0;
}

// The echo server as a process of its own, as the service is.
bool startEchoServer(const std::wstring& name, ProcessHandles& child, bool framed = false)
{
    wchar_t self[MAX_PATH];
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0)
        return false;
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" echo-server " + name + (framed ? L" framed" : L"");
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    child = ProcessHandles(info);
    return true;
}

UniqueHandle openWhenThere(const std::wstring& name)
{
    Stopwatch waited;
    for (;;) {
        UniqueHandle pipe(
            CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe || waited.seconds() * 1000 > PipeAppearsWithinMs)
            return pipe;
        Sleep(10);
    }
}

// One frame out with one write, and back with one read, or with two when `framed`.
bool echoRoundTrip(HANDLE pipe, std::uint8_t value, bool framed = false)
{
    const std::uint8_t request[FrameSize] = { 1, 0, 0, 0, value };
    std::uint8_t reply[FrameSize] = {};
    DWORD written = 0;
    if (!WriteFile(pipe, request, FrameSize, &written, nullptr) || written != FrameSize)
        return false;
    const bool read = framed ? readExactly(pipe, reply, 4) && readExactly(pipe, reply + 4, FrameSize - 4)
                             : readExactly(pipe, reply, FrameSize);
    return read && std::memcmp(request, reply, FrameSize) == 0;
}

// An echo server of ours, reached through its own pipe.
struct EchoPair {
    ProcessHandles child;
    UniqueHandle pipe;
    bool framed = false;

    bool start(const wchar_t* kind, bool framedReads)
    {
        framed = framedReads;
        const std::wstring name = std::wstring(L"\\\\.\\pipe\\NimbalBench") + kind + L"-" +
                                  std::to_wstring(GetCurrentProcessId());
        if (!startEchoServer(name, child, framed))
            return false;
        pipe = openWhenThere(name);
        if (!pipe)
            TerminateProcess(child.process.get(), 1);
        return pipe.valid();
    }
    bool roundTrip(std::uint8_t value) { return echoRoundTrip(pipe.get(), value, framed); }
    // Our end closed, the server's read fails and it ends.
    void end()
    {
        pipe.reset();
        if (child.process && WaitForSingleObject(child.process.get(), 10000) != WAIT_OBJECT_0)
            TerminateProcess(child.process.get(), 1);
    }
};

// What the host answers for the VPN state while no VPN is wanted, framed.
constexpr char HostReply[] = R"({"text":"NOTCONNECTED"})";
constexpr std::uint32_t MaxHostMessage = 1024 * 1024;

// Reads standard input as bare as it can be read: each read takes what has arrived, and every whole
// frame in it is answered, after one echo round trip, with a reply written straight to the handle.
int hostFloor()
{
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    EchoPair echo;
    if (!echo.start(L"HostEcho", false))
        return fail("starting the echo server");
    std::vector<char> pending;
    std::vector<char> chunk(64 * 1024);
    char frame[4 + sizeof HostReply - 1];
    const std::uint32_t replyLength = sizeof HostReply - 1;
    std::memcpy(frame, &replyLength, 4);
    std::memcpy(frame + 4, HostReply, replyLength);
    int status = 0;
    std::uint8_t turn = 0;
    for (bool open = true; open && status == 0;) {
        DWORD got = 0;
        if (!ReadFile(in, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) || got == 0)
            break;
        pending.insert(pending.end(), chunk.data(), chunk.data() + got);
        size_t at = 0;
        while (pending.size() - at >= 4) {
            std::uint32_t length = 0;
            std::memcpy(&length, pending.data() + at, 4);
            if (length == 0 || length > MaxHostMessage) {
                open = false;
                break;
            }
            if (pending.size() - at - 4 < length)
                break;
            at += 4 + length;
            DWORD written = 0;
            if (!echo.roundTrip(turn++) || !WriteFile(out, frame, sizeof frame, &written, nullptr) ||
                written != sizeof frame) {
                status = 1;
                break;
            }
        }
        pending.erase(pending.begin(), pending.begin() + at);
    }
    echo.end();
    return status;
}

// One CMD_GET_VPN_STATE exchange, built by hand so that a missing answer shows as -1.
int checkedVpnState(CommandsClient& client)
{
    PipeMessage& buffer = client.buffer();
    buffer.startMessage();
    buffer.appendByte(CMD_GET_VPN_STATE);
    if (!buffer.send(client.pipe()) || !buffer.readFrom(client.pipe()) || buffer.remaining() != 1)
        return -1;
    return buffer.readByte();
}

int compare(int count)
{
    CommandsClient client(CommandsPipeName);
    if (client.pipe() == INVALID_HANDLE_VALUE)
        return fail("the service's pipe cannot be opened");
    // requestVpnState cannot tell "no answer" from an answer of 1: every answer in the timed loop is
    // compared with one read by hand before, and the pipe must still answer after.
    const int expected = checkedVpnState(client);
    if (expected < 0)
        return fail("no answer to CMD_GET_VPN_STATE");
    EchoPair plain;
    EchoPair framed;
    if (!plain.start(L"Echo", false) || !framed.start(L"FramedEcho", true))
        return fail("starting the echo servers");

    int wrong = 0;
    for (int i = 0; i < WarmUpRoundTrips; ++i) {
        client.requestVpnState();
        if (!plain.roundTrip(static_cast<std::uint8_t>(i)) || !framed.roundTrip(static_cast<std::uint8_t>(i)))
            ++wrong;
    }
    std::vector<double> service;
    std::vector<double> plainTimes;
    std::vector<double> framedTimes;
    for (int done = 0; done < count; done += BurstRoundTrips) {
        const int burst = std::min(BurstRoundTrips, count - done);
        for (int i = 0; i < burst; ++i) {
            const Stopwatch one;
            const int state = client.requestVpnState();
            service.push_back(one.seconds() * 1e6);
            if (state != expected)
                ++wrong;
        }
        for (EchoPair* pair : { &plain, &framed }) {
            std::vector<double>& times = pair == &plain ? plainTimes : framedTimes;
            for (int i = 0; i < burst; ++i) {
                const Stopwatch one;
                const bool echoed = pair->roundTrip(static_cast<std::uint8_t>(i));
                times.push_back(one.seconds() * 1e6);
                if (!echoed)
                    ++wrong;
            }
        }
    }
    if (checkedVpnState(client) != expected)
        ++wrong;
    plain.end();
    framed.end();

    JsonLine line;
    // The exchanges by hand and the warm-up reach the service too.
    line.add("state", expected).add("requests", count + WarmUpRoundTrips + 2).add("burst", BurstRoundTrips);
    addLatencies(line, service, "service_");
    addLatencies(line, plainTimes, "bare_");
    addLatencies(line, framedTimes, "framed_");
    line.add("wrong", wrong).print();
    return wrong == 0 ? 0 : 1;
}

// A request of the mix, with how its answer is checked.
enum class Answer { Byte, String, List };
struct MixedRequest {
    std::uint8_t code;
    const wchar_t* argument; // nullptr: the code alone
    Answer answer;
};
constexpr MixedRequest Mix[] = {
    { CMD_GET_VPN_STATE, nullptr, Answer::Byte },
    { CMD_GET_SETTING, L"Internal.LoggingEnabled", Answer::String },
    { CMD_LIST_SETTINGS, L"UpdatableSettings", Answer::List },
    { CMD_GET_UPDATE_URL, nullptr, Answer::String },
    { CMD_GET_SETTING, L"UpdatableSettings.updateRequestInterval", Answer::String },
};

bool answered(PipeMessage& buffer, Answer answer)
{
    try {
        std::wstring text;
        switch (answer) {
        case Answer::Byte:
            return buffer.remaining() == 1 && buffer.readByte() <= 3;
        case Answer::String:
            try {
                buffer.readString(text);
            } catch (const missing_setting&) {
            }
            return buffer.remaining() == 0;
        case Answer::List: {
            const std::int32_t names = buffer.readInt32();
            for (std::int32_t i = 0; i < names; ++i)
                buffer.readString(text);
            return names >= 0 && buffer.remaining() == 0;
        }
        }
    } catch (const std::exception&) {
    }
    return false;
}

int mixed(int count, int perPipe)
{
    int wrong = 0;
    int connections = 0;
    std::vector<double> microseconds;
    microseconds.reserve(count);
    Stopwatch wall;
    for (int done = 0; done < count;) {
        CommandsClient client(CommandsPipeName);
        ++connections;
        if (client.pipe() == INVALID_HANDLE_VALUE)
            return fail("the service's pipe cannot be opened");
        for (int i = 0; i < perPipe && done < count; ++i, ++done) {
            const MixedRequest& request = Mix[done % (sizeof Mix / sizeof Mix[0])];
            PipeMessage& buffer = client.buffer();
            const Stopwatch one;
            buffer.startMessage();
            buffer.appendByte(request.code);
            if (request.argument != nullptr)
                buffer.appendString(request.argument);
            const bool ok = buffer.send(client.pipe()) && buffer.readFrom(client.pipe()) &&
                            answered(buffer, request.answer);
            microseconds.push_back(one.seconds() * 1e6);
            if (!ok)
                ++wrong;
        }
    }
    JsonLine line;
    line.add("connections", connections).add("per_s", count / wall.seconds());
    addLatencies(line, microseconds).add("wrong", wrong).print();
    return wrong == 0 ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr, "usage: pipe_bench compare COUNT | mixed COUNT PER_PIPE | host-floor"
                         " | echo-server NAME [framed]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc < 2)
        return usage();
    const std::wstring mode = argv[1];
    if (mode == L"host-floor") {
        endProcessAfter(ClientLimitMs);
        return hostFloor();
    }
    if (argc < 3)
        return usage();
    if (mode == L"echo-server")
        return echoServer(argv[2], argc >= 4 && std::wstring(argv[3]) == L"framed");
    const int count = _wtoi(argv[2]);
    if (count <= 0)
        return usage();
    endProcessAfter(ClientLimitMs);
    if (mode == L"compare")
        return compare(count);
    if (mode == L"mixed" && argc >= 4 && _wtoi(argv[3]) > 0)
        return mixed(count, _wtoi(argv[3]));
    return usage();
}
