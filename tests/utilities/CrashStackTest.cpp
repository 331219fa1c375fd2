// Built with frame pointers and DWARF 4 line tables, which Wine's debug help reads, so that the
// functions below show up in their own traces with name, file and line.

#include "CrashInvestigatable.h"
#include "LogFileFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

struct Frame {
    bool hasSymbol = false;
    std::string name;    // with a symbol
    std::string address; // without one
    std::string file;    // empty without line information
    int line = 0;
};

// Parses a trace entry by entry; any line that fits neither entry form fails the test.
std::vector<Frame> parseTrace(const std::string& trace)
{
    static const std::string separator(70, '-');
    static const std::regex symbolLine("^(.+) at (?: (.+)\\((\\d+)\\))?$");
    static const std::regex addressLine("^([0-9a-f]+)(?: (.+)\\((\\d+)\\))?$");

    std::vector<Frame> frames;
    EXPECT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), '\n') << "the last entry ends its line";
    std::vector<std::string> lines;
    for (size_t start = 0; start < trace.size();) {
        const size_t end = trace.find('\n', start);
        lines.push_back(trace.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? trace.size() : end + 1;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        Frame frame;
        std::smatch match;
        if (lines[i] == separator) {
            if (i + 1 == lines.size() || !std::regex_match(lines[i + 1], match, symbolLine)) {
                ADD_FAILURE() << "no \"name at\" line after the dashes at line " << i << " of\n" << trace;
                return frames;
            }
            ++i;
            frame.hasSymbol = true;
            frame.name = match[1];
        } else if (std::regex_match(lines[i], match, addressLine)) {
            frame.address = match[1];
        } else {
            ADD_FAILURE() << "line " << i << " is not a trace entry: \"" << lines[i] << "\" in\n" << trace;
            return frames;
        }
        if (match[2].matched) {
            frame.file = match[2];
            frame.line = std::stoi(match[3]);
        }
        frames.push_back(frame);
    }
    return frames;
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string hexAddress(const void* address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(reinterpret_cast<DWORD_PTR>(address)));
    return text;
}

} // namespace

// On x86 the captured context is that of its taker's caller: the trace starts there.
__attribute__((noinline)) std::string traceOfCaller()
{
    CONTEXT context;
    ZeroMemory(&context, sizeof context);
    RtlCaptureContext(&context);
    std::string trace = utilities::CrashInvestigatable::getStackTrace(context);
    asm volatile("" ::: "memory");
    return trace;
}

constexpr int KnownFunctionFirstLine = __LINE__;
__attribute__((noinline)) std::string traceOfKnownFunction()
{
    std::string trace = traceOfCaller();
    asm volatile("" ::: "memory");
    return trace;
}
constexpr int KnownFunctionLastLine = __LINE__;

__attribute__((noinline)) void logFromKnownFunction()
{
    utilities::CrashInvestigatable::logStackTrace();
    asm volatile("" ::: "memory"); // no tail call: this frame stays on the stack
}

TEST(CrashStackText, FramesWithSymbolsReadNameAtFileAndLine)
{
    const std::string trace = traceOfKnownFunction();
    const std::vector<Frame> frames = parseTrace(trace);
    ASSERT_GE(frames.size(), 2u) << trace;

    EXPECT_TRUE(frames[0].hasSymbol) << trace;
    EXPECT_NE(frames[0].name.find("traceOfKnownFunction"), std::string::npos) << trace;
    EXPECT_TRUE(endsWith(frames[0].file, "CrashStackTest.cpp")) << trace;
    EXPECT_GE(frames[0].line, KnownFunctionFirstLine) << trace;
    EXPECT_LE(frames[0].line, KnownFunctionLastLine) << trace;

    // The walk goes on into the caller.
    EXPECT_NE(frames[1].name.find("TestBody"), std::string::npos) << trace;
    EXPECT_TRUE(endsWith(frames[1].file, "CrashStackTest.cpp")) << trace;
}

// A made-up stack whose code lies outside every module.
class FakeStackTest : public ::testing::Test {
protected:
    void TearDown() override { VirtualFree(code, 0, MEM_RELEASE); }

    DWORD at(DWORD offset) const { return static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(code + offset)); }
    static DWORD addressOf(const DWORD* word) { return static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(word)); }

    CONTEXT contextAt(DWORD offset, DWORD* frame)
    {
        CONTEXT context;
        ZeroMemory(&context, sizeof context);
        context.ContextFlags = CONTEXT_FULL;
        context.Eip = at(offset);
        context.Ebp = addressOf(frame);
        context.Esp = addressOf(stack);
        return context;
    }

    std::uint8_t* code = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    DWORD stack[64] = {};
    DWORD* frame1 = &stack[8]; // each frame: saved frame pointer, then return address
    DWORD* frame2 = &stack[16];
    DWORD* frame3 = &stack[24];
};

TEST_F(FakeStackTest, FramesWithoutSymbolsAreBareAddressesAndTheWalkEndsAtFrameZero)
{
    ASSERT_NE(code, nullptr);
    frame1[0] = addressOf(frame2);
    frame1[1] = at(0xabc);
    frame2[0] = 0; // the outermost frame
    frame2[1] = at(0xdef);

    const std::string trace = utilities::CrashInvestigatable::getStackTrace(contextAt(0xa10, frame1));
    EXPECT_EQ(trace, hexAddress(code + 0xa10) + "\n" + hexAddress(code + 0xabc) + "\n");
}

TEST_F(FakeStackTest, TheWalkEndsWhereTheFrameAddressIsTheReturnAddress)
{
    ASSERT_NE(code, nullptr);
    frame1[0] = addressOf(frame2);
    frame1[1] = at(0xabc);
    frame2[0] = addressOf(frame3);
    frame2[1] = addressOf(frame2);
    frame3[1] = at(0xdef);

    const std::string trace = utilities::CrashInvestigatable::getStackTrace(contextAt(0xa10, frame1));
    EXPECT_EQ(trace, hexAddress(code + 0xa10) + "\n");
}

TEST_F(FakeStackTest, AFrameChainThatComesBackOnItselfEndsTheWalk)
{
    ASSERT_NE(code, nullptr);
    frame1[0] = addressOf(frame2);
    frame1[1] = at(0xabc);
    frame2[0] = addressOf(frame1);
    frame2[1] = at(0xdef);

    const std::string trace = utilities::CrashInvestigatable::getStackTrace(contextAt(0xa10, frame1));
    EXPECT_EQ(trace, hexAddress(code + 0xa10) + "\n" + hexAddress(code + 0xabc) + "\n");
}

TEST_F(FakeStackTest, TheWalkEndsAfter256Frames)
{
    ASSERT_NE(code, nullptr);
    // 300 frames, each above the one before.
    std::vector<DWORD> deep(2 * 301, 0);
    for (size_t i = 0; i < 300; ++i) {
        deep[2 * i] = addressOf(&deep[2 * (i + 1)]);
        deep[2 * i + 1] = at(0x100 + static_cast<DWORD>(i));
    }

    const std::string trace = utilities::CrashInvestigatable::getStackTrace(contextAt(0xa10, deep.data()));
    EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 256) << trace;
}

TEST_F(FakeStackTest, TheCallersContextIsLeftAsItWas)
{
    ASSERT_NE(code, nullptr);
    frame1[0] = 0;
    const CONTEXT context = contextAt(0xa10, frame1);
    CONTEXT walked = context;
    utilities::CrashInvestigatable::getStackTrace(walked);
    EXPECT_EQ(std::memcmp(&walked, &context, sizeof context), 0);
}

class LoggedStackTest : public LogFileFixture {};

TEST_F(LoggedStackTest, TheTraceIsOneLogEntrySpanningSeveralLines)
{
    Logger::instance().setLoggingEnabled(true);
    logFromKnownFunction();

    const std::string text = logText();
    const std::string stamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\t";
    const std::regex layout("^" + stamp + "Enabled logging\\.\\.\\.\r\n" + stamp);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text, match, layout)) << text;
    std::string entry = text.substr(match.position(0) + match.length(0));
    EXPECT_FALSE(std::regex_search(entry, std::regex(stamp))) << "more than one entry:\n" << text;
    ASSERT_TRUE(endsWith(entry, "\r\n\r\n")) << "the trace's own last line end, then the entry's";
    entry = std::regex_replace(entry.substr(0, entry.size() - 2), std::regex("\r\n"), "\n");

    const std::vector<Frame> frames = parseTrace(entry);
    bool callerFound = false;
    for (const Frame& frame : frames)
        callerFound = callerFound || (frame.hasSymbol && frame.name.find("logFromKnownFunction") != std::string::npos &&
                                      endsWith(frame.file, "CrashStackTest.cpp"));
    EXPECT_TRUE(callerFound) << entry;
}

TEST(CrashStackText, ThreadsTakingTracesAtOnceEachGetTheirOwnWholeTrace)
{
    constexpr int threadCount = 4;
    constexpr int tracesEach = 20;
    std::vector<std::vector<std::string>> traces(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&traces, t] {
            for (int i = 0; i < tracesEach; ++i)
                traces[t].push_back(traceOfKnownFunction());
        });
    for (std::thread& thread : threads)
        thread.join();

    for (const auto& ofThread : traces)
        for (const std::string& trace : ofThread) {
            const std::vector<Frame> frames = parseTrace(trace);
            ASSERT_FALSE(frames.empty());
            ASSERT_NE(frames[0].name.find("traceOfKnownFunction"), std::string::npos) << trace;
        }
}
