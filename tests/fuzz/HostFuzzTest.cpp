// The native-messaging host fed random, damaged and lying frames on its standard input. Beside the
// stand-in library, whose answers each case chooses, every run must end in time with code 0 and
// write exactly the replies its input calls for; beside the real library, every reply must be one
// of the two its request can get.
#include "FuzzRun.h"

#include "HostFolder.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <set>

namespace {

constexpr unsigned DefaultCases = 120;
constexpr unsigned DefaultRealLibraryCases = 12;
constexpr std::uint32_t MaxMessage = 100;

const std::string IsInstalled = R"({"text":"isInstalled"})";
const std::string IsRunning = R"({"text":"isRunning"})";
const std::string TryToStartService = R"({"text":"tryToStartService"})";
const std::string GetVpnState = R"({"text":"getVpnState"})";
const std::string Unknown = R"({"text":"Unknown message received"})";
const std::string ServiceStarting = R"({"text":"Service starting"})";
const Texts StateNames { "NOTCONNECTED", "DISCONNECTED", "CONNECTING", "CONNECTED" };

const std::vector<std::uint32_t> LyingLengths { 0, 101, 102, 255, 256, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF };
const std::vector<int> States { 0, 1, 2, 3, 4, 7, -1, 255, 65536, INT_MIN };

struct LibraryAnswers {
    bool installed = false;
    bool running = false;
    bool startSucceeds = false;
    std::vector<int> states;
};

std::string reply(const std::string& text)
{
    return R"({"text":")" + text + R"("})";
}

// The texts of the messages the host reads whole, in order, as far as it reads: a length of 0 or
// above 100, a length cut short or a text cut short ends the input.
Texts requestsRead(const std::string& input)
{
    Texts texts;
    size_t at = 0;
    while (input.size() - at >= 4) {
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i)
            length = length << 8 | static_cast<unsigned char>(input[at + i]);
        at += 4;
        if (length == 0 || length > MaxMessage || input.size() - at < length)
            break;
        const std::string text = input.substr(at, length);
        texts.push_back(text.substr(0, text.find('\0')));
        at += length;
    }
    return texts;
}

struct Conversation {
    Texts replies;
    Texts calls;
};

// The stand-in library's answers to the requests, in order, up to a start that succeeds.
Conversation expectedConversation(const Texts& requests, const LibraryAnswers& answers)
{
    Conversation conversation;
    size_t stateCalls = 0;
    for (const std::string& request : requests) {
        if (request == IsInstalled) {
            conversation.calls.push_back("isServiceInstalled");
            conversation.replies.push_back(reply(answers.installed ? "installed" : "not installed"));
        } else if (request == IsRunning) {
            conversation.calls.push_back("isServiceRunning");
            conversation.replies.push_back(reply(answers.running ? "running" : "not running"));
        } else if (request == TryToStartService) {
            conversation.calls.push_back("tryToStartService");
            conversation.replies.push_back(answers.startSucceeds ? ServiceStarting
                                                                 : reply("Service start attempt failed"));
            if (answers.startSucceeds)
                break;
        } else if (request == GetVpnState) {
            conversation.calls.push_back("getVpnState");
            const int state = answers.states.empty() ? 0 : answers.states[std::min(stateCalls, answers.states.size() - 1)];
            ++stateCalls;
            const auto index = static_cast<unsigned>(state);
            conversation.replies.push_back(reply(index < StateNames.size() ? StateNames[index] : "DISCONNECTED"));
        } else {
            conversation.replies.push_back(Unknown);
        }
    }
    return conversation;
}

std::string damaged(Random& random, std::string text)
{
    switch (random.below(7)) {
    case 0:
        text[random.below(static_cast<std::uint32_t>(text.size()))] ^= static_cast<char>(1u << random.below(8));
        break;
    case 1: {
        // Another letter case somewhere.
        const size_t at = random.below(static_cast<std::uint32_t>(text.size()));
        text[at] = static_cast<char>(std::isupper(static_cast<unsigned char>(text[at])) ? std::tolower(text[at]) : std::toupper(text[at]));
        break;
    }
    case 2:
        text.insert(random.below(static_cast<std::uint32_t>(text.size()) + 1), 1, ' ');
        break;
    case 3:
        text.resize(random.between(1, static_cast<std::uint32_t>(text.size())));
        break;
    case 4:
        // A zero byte ends the text: what follows it is not part of the request.
        text += '\0';
        while (text.size() < MaxMessage && random.percent(90))
            text += static_cast<char>(random.byte());
        break;
    case 5:
        text.resize(MaxMessage, '\0');
        break;
    default:
        text += static_cast<char>(random.between(0x20, 0x7E));
        break;
    }
    return text;
}

std::string randomText(Random& random, bool printable)
{
    std::string text(random.between(1, MaxMessage), '\0');
    for (char& c : text)
        c = static_cast<char>(printable ? random.between(0x20, 0x7E) : random.byte());
    return text;
}

std::string messageText(Random& random, const Texts& known)
{
    const unsigned kind = random.below(10);
    if (kind < 3)
        return random.pick(known);
    if (kind < 6)
        return damaged(random, random.pick(known));
    if (kind < 8)
        return randomText(random, true);
    if (kind < 9)
        return randomText(random, false);
    return reply(randomText(random, true).substr(0, 80));
}

// 1 to 8 messages, now and then with a length that lies, and now and then a stream cut short.
std::string randomInput(Random& random, const Texts& known)
{
    std::string input;
    for (unsigned n = random.between(1, 8); n > 0; --n) {
        const std::string text = messageText(random, known);
        std::uint32_t length = static_cast<std::uint32_t>(text.size());
        if (random.percent(8))
            length = random.pick(LyingLengths);
        else if (random.percent(5))
            length += random.between(1, 8);
        input += lengthPrefix(length) + text;
    }
    if (random.percent(10))
        input += lengthPrefix(random.between(1, MaxMessage)).substr(0, random.between(1, 3));
    else if (random.percent(10))
        input += lengthPrefix(random.between(2, MaxMessage)) + randomText(random, true).substr(0, 1);
    return input;
}

LibraryAnswers randomAnswers(Random& random)
{
    LibraryAnswers answers;
    answers.installed = random.percent(50);
    answers.running = random.percent(50);
    answers.startSucceeds = random.percent(30);
    for (unsigned n = random.below(5); n > 0; --n)
        answers.states.push_back(random.pick(States));
    return answers;
}

Answers asAnswerFile(const LibraryAnswers& answers)
{
    std::wstring states;
    for (int state : answers.states)
        states += (states.empty() ? L"" : L" ") + std::to_wstring(state);
    return { { L"isServiceInstalled", answers.installed ? L"1" : L"0" },
             { L"isServiceRunning", answers.running ? L"1" : L"0" },
             { L"tryToStartService", answers.startSucceeds ? L"1" : L"0" },
             { L"getVpnState", states } };
}

std::string describe(unsigned number, const std::string& input, const std::string& answers)
{
    return "case " + std::to_string(number) + answers + ", input: " + hexDump(input, 4096);
}

bool crashed(const ChildResult& result)
{
    return result.errorOutput.find("Unhandled") != std::string::npos;
}

} // namespace

TEST(HostFuzz, EveryInputGetsExactlyItsRepliesAndEndsTheHost)
{
    const FuzzRun run = fuzzRun("native-messaging host", DefaultCases);
    const Texts known { IsInstalled, IsRunning, TryToStartService, GetVpnState };
    for (unsigned number = 0; number < run.count; ++number) {
        Random random(run.seed, number);
        const LibraryAnswers answers = randomAnswers(random);
        const std::string input = randomInput(random, known);
        std::string shownAnswers = std::string(", library answers installed ") + (answers.installed ? "1" : "0") +
                                   " running " + (answers.running ? "1" : "0") + " start " +
                                   (answers.startSucceeds ? "1" : "0") + " states";
        for (int state : answers.states)
            shownAnswers += " " + std::to_string(state);
        const std::string description = describe(number, input, shownAnswers);
        noteCase("fuzz_msg_host_test.case.txt", description);
        SCOPED_TRACE(description);

        const HostFolder host;
        host.setAnswers(asAnswerFile(answers));
        const ChildResult result = host.run(input);
        ASSERT_TRUE(result.started);
        ASSERT_FALSE(result.timedOut);
        EXPECT_FALSE(crashed(result)) << result.errorOutput;
        EXPECT_EQ(result.exitCode, 0u);
        const Conversation expected = expectedConversation(requestsRead(input), answers);
        EXPECT_EQ(framedTexts(result.output), expected.replies);
        EXPECT_EQ(result.output, frames(expected.replies));
        EXPECT_EQ(host.libraryCalls(), expected.calls);
    }
}

// The real library asks the control manager, whose answers depend on what else runs in the prefix:
// only questions that start nothing are sent, and each reply must belong to its question.
TEST(HostFuzz, WithTheRealLibraryEveryReplyBelongsToItsRequest)
{
    const FuzzRun run = fuzzRun("native-messaging host with the real library", DefaultRealLibraryCases);
    const Texts known { IsInstalled, IsRunning };
    for (unsigned number = 0; number < run.count; ++number) {
        Random random(run.seed, number, 1);
        std::string input = randomInput(random, known);
        // A damaged text that came out as one of the other two questions is not sent.
        Texts requests = requestsRead(input);
        if (std::find(requests.begin(), requests.end(), TryToStartService) != requests.end() ||
            std::find(requests.begin(), requests.end(), GetVpnState) != requests.end())
            continue;
        const std::string description = describe(number, input, ", real library");
        noteCase("fuzz_msg_host_test.case.txt", description);
        SCOPED_TRACE(description);

        const HostFolder host(NIMBAL_CMDAPI_DLL);
        const ChildResult result = host.run(input);
        ASSERT_TRUE(result.started);
        ASSERT_FALSE(result.timedOut);
        EXPECT_FALSE(crashed(result)) << result.errorOutput;
        EXPECT_EQ(result.exitCode, 0u);
        const Texts replies = framedTexts(result.output);
        ASSERT_EQ(replies.size(), requests.size());
        for (size_t i = 0; i < replies.size(); ++i) {
            std::set<std::string> allowed { Unknown };
            if (requests[i] == IsInstalled)
                allowed = { reply("installed"), reply("not installed") };
            else if (requests[i] == IsRunning)
                allowed = { reply("running"), reply("not running") };
            EXPECT_EQ(allowed.count(replies[i]), 1u) << "reply " << i << ": " << replies[i];
        }
    }
}
