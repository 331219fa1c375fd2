// The host as the browser sees it: framed requests in, framed replies out, and when it ends.
#include "HostFolder.h"

namespace {

const std::string IsInstalled = R"({"text":"isInstalled"})";
const std::string IsRunning = R"({"text":"isRunning"})";
const std::string TryToStartService = R"({"text":"tryToStartService"})";
const std::string GetVpnState = R"({"text":"getVpnState"})";
const std::string Unknown = R"({"text":"Unknown message received"})";

std::string stateReply(const std::string& name)
{
    return R"({"text":")" + name + R"("})";
}

struct Conversation {
    const char* name;
    Answers answers;
    std::string input;
    Texts replies;
    Texts libraryCalls;
};

const Conversation Conversations[] = {
    { "every query answered true",
      { { L"isServiceInstalled", L"1" }, { L"isServiceRunning", L"1" }, { L"getVpnState", L"3" } },
      frames({ IsInstalled, IsRunning, GetVpnState }),
      { R"({"text":"installed"})", R"({"text":"running"})", stateReply("CONNECTED") },
      { "isServiceInstalled", "isServiceRunning", "getVpnState" } },
    { "every query answered false, and a failed start leaves the host serving",
      { { L"isServiceInstalled", L"0" }, { L"isServiceRunning", L"0" }, { L"tryToStartService", L"0" },
        { L"getVpnState", L"0" } },
      frames({ IsInstalled, IsRunning, TryToStartService, GetVpnState, IsRunning }),
      { R"({"text":"not installed"})", R"({"text":"not running"})", R"({"text":"Service start attempt failed"})",
        stateReply("NOTCONNECTED"), R"({"text":"not running"})" },
      { "isServiceInstalled", "isServiceRunning", "tryToStartService", "getVpnState", "isServiceRunning" } },
    { "each state by its name, and states outside the table as DISCONNECTED",
      { { L"getVpnState", L"0 1 2 3 4 7 -1" } },
      frames(Texts(7, GetVpnState)),
      { stateReply("NOTCONNECTED"), stateReply("DISCONNECTED"), stateReply("CONNECTING"), stateReply("CONNECTED"),
        stateReply("DISCONNECTED"), stateReply("DISCONNECTED"), stateReply("DISCONNECTED") },
      Texts(7, "getVpnState") },
    { "only the whole text, to the byte, is a request",
      { { L"isServiceRunning", L"1" } },
      frames({ R"({"text": "isRunning"})", R"({"text":"IsRunning"})", R"({"text":"isRunning"} )",
               R"({"text":"isRunnin"})", "isRunning", R"({"text":"getVpnState","x":1})", "{}" }),
      Texts(7, Unknown),
      {} },
    { "a successful start ends the host before the next message",
      { { L"tryToStartService", L"1" }, { L"isServiceRunning", L"1" } },
      frames({ TryToStartService, IsRunning }),
      { R"({"text":"Service starting"})" },
      { "tryToStartService" } },
    { "a 100-byte request is read whole; its text ends at the first zero byte",
      { { L"isServiceRunning", L"1" }, { L"isServiceInstalled", L"1" } },
      frames({ IsRunning + std::string(100 - IsRunning.size(), '\0'), IsInstalled }),
      { R"({"text":"running"})", R"({"text":"installed"})" },
      { "isServiceRunning", "isServiceInstalled" } },
    { "a 101-byte request ends the host unread",
      { { L"isServiceRunning", L"1" } },
      frames({ IsRunning + std::string(101 - IsRunning.size(), ' '), IsRunning }),
      {},
      {} },
    { "an empty message ends the host",
      { { L"isServiceRunning", L"1" } },
      frames({ "", IsRunning }),
      {},
      {} },
    { "the end of input ends the host", {}, "", {}, {} },
    { "a length cut short by the end of input ends the host",
      { { L"isServiceRunning", L"1" } },
      frames({ IsRunning }) + lengthPrefix(static_cast<std::uint32_t>(IsRunning.size())).substr(0, 2),
      { R"({"text":"running"})" },
      { "isServiceRunning" } },
    { "a text cut short by the end of input is not answered",
      { { L"isServiceRunning", L"1" } },
      lengthPrefix(static_cast<std::uint32_t>(IsRunning.size() + 1)) + IsRunning,
      {},
      {} },
};

} // namespace

TEST(HostMessages, RepliesEndsAndLibraryCallsOfEachConversation)
{
    for (const Conversation& conversation : Conversations) {
        SCOPED_TRACE(conversation.name);
        const HostFolder host;
        host.setAnswers(conversation.answers);
        const ChildResult result = host.run(conversation.input);
        EXPECT_EQ(result.exitCode, 0u);
        // Nothing but whole frames: the library's console text must not get in between.
        EXPECT_EQ(framedTexts(result.output), conversation.replies);
        EXPECT_EQ(result.output, frames(conversation.replies));
        EXPECT_EQ(host.libraryCalls(), conversation.libraryCalls);
    }
}

TEST(HostMessages, RunningIsItsLengthInNativeOrderThenItsBytes)
{
    const HostFolder host;
    host.setAnswers({ { L"isServiceRunning", L"1" } });
    const std::string request("\x14\x00\x00\x00" R"({"text":"isRunning"})", 24);
    const std::string reply("\x12\x00\x00\x00" R"({"text":"running"})", 22);
    EXPECT_EQ(host.run(request).output, reply);
}

TEST(HostLog, StaysOffUntilAnUnexpectedStateIsCaught)
{
    const HostFolder host;
    host.setAnswers({ { L"getVpnState", L"3 7 2" } });
    EXPECT_EQ(framedTexts(host.run(frames({ GetVpnState, GetVpnState, GetVpnState })).output),
              (Texts { stateReply("CONNECTED"), stateReply("DISCONNECTED"), stateReply("CONNECTING") }));
    EXPECT_EQ(host.logLines(),
              (Texts { "Enabled logging...",
                       "[ERROR]:\t Caught an unexpected vpn state, error message: invalid array<T, N> subscript ",
                       R"(Native msg host: send {"text":"DISCONNECTED"})",
                       R"(Native msg host: received {"text":"getVpnState"})",
                       R"(Native msg host: send {"text":"CONNECTING"})",
                       "Native msg host: no new messages" }));
}

TEST(HostLog, NothingIsWrittenWhileNothingGoesWrong)
{
    const HostFolder host;
    host.setAnswers({ { L"getVpnState", L"2" }, { L"isServiceInstalled", L"0" } });
    EXPECT_EQ(host.run(frames({ GetVpnState, IsInstalled, R"({"text":"other"})" })).exitCode, 0u);
    EXPECT_FALSE(host.hasLog());
}
