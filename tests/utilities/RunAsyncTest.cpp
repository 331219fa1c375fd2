// Work items on the thread pool: run once, off the caller's thread, and always freed.
#include "RunAsync.h"

#include "Handles.h"
#include "LogFileFixture.h"

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

constexpr DWORD Bound = 30000; // only a bound: every wait below normally ends at once

// What a work item saw, kept outside the item so that it outlives it.
struct Record {
    UniqueHandle go { CreateEventW(nullptr, TRUE, FALSE, nullptr) };
    UniqueHandle freed { CreateEventW(nullptr, TRUE, FALSE, nullptr) };
    std::atomic<int> calls { 0 };
    std::atomic<DWORD> threadId { 0 };
};

// Held by the queued function only; its end shows that the function's copy was destroyed.
struct Probe {
    explicit Probe(Record& r) : record(r) {}
    ~Probe() { SetEvent(record.freed.get()); }
    Record& record;
};

// A function that waits for the test's go, notes its call and then ends as `finish` says.
std::function<void()> work(Record& record, std::function<void()> finish)
{
    auto probe = std::make_shared<Probe>(record);
    return [probe, finish] {
        WaitForSingleObject(probe->record.go.get(), Bound);
        probe->record.threadId = GetCurrentThreadId();
        ++probe->record.calls;
        finish();
    };
}

} // namespace

class RunAsyncTest : public LogFileFixture {
protected:
    // Queues the work, lets it go once only the work item holds it, and waits for its copy to go.
    void runToTheEnd(std::function<void()> finish)
    {
        runAsync(work(record, std::move(finish)), WT_EXECUTELONGFUNCTION);
        EXPECT_EQ(WaitForSingleObject(record.freed.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the copy went before the work ran";
        SetEvent(record.go.get());
        ASSERT_EQ(WaitForSingleObject(record.freed.get(), Bound), static_cast<DWORD>(WAIT_OBJECT_0))
            << "the work item's copy was never freed";
    }

    Record record;
};

TEST_F(RunAsyncTest, RunsOnceOnAPoolThreadAndFreesItsCopy)
{
    runToTheEnd([] {});
    EXPECT_EQ(record.calls, 1);
    EXPECT_NE(record.threadId, 0u);
    EXPECT_NE(record.threadId, GetCurrentThreadId());
    EXPECT_FALSE(fileExists(folder.file(L"test.log"))) << "a work item that ends well logs nothing";
}

struct EscapeCase {
    const char* name;
    std::function<void()> raise;
    std::string line;
};

void PrintTo(const EscapeCase& value, std::ostream* out)
{
    *out << value.name;
}

class EscapingException : public RunAsyncTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(EscapingException, IsLoggedAndTheCopyStillFreed)
{
    runToTheEnd(GetParam().raise);
    EXPECT_EQ(record.calls, 1);
    // The process is still here, and says what ended the work.
    EXPECT_EQ(logLines(), (std::vector<std::string> { "Enabled logging...", GetParam().line }));
}

INSTANTIATE_TEST_SUITE_P(RunAsync, EscapingException, ::testing::Values(
    EscapeCase { "StandardError", [] { throw std::runtime_error("boom"); },
             "[ERROR]:\t runAsyncProc work item ended by an exception: boom " },
    EscapeCase { "WindowsErrorCode", [] { throw static_cast<DWORD>(ERROR_ACCESS_DENIED); },
             "[ERROR]:\t runAsyncProc work item ended by Windows error 5 " },
    EscapeCase { "AnythingElse", [] { throw 42; },
             "[ERROR]:\t runAsyncProc work item ended by an unknown exception " }),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });
