#include "RunAsync.h"

#include "Logger.h"

#include <exception>
#include <memory>

namespace {

using Work = std::function<void()>;

// Called inside a catch block; logging must not throw in turn.
void logEscapedException() noexcept
{
    try {
        try {
            throw;
        } catch (const std::exception& error) {
            LOG_ERROR << "runAsyncProc" << "work item ended by an exception:" << error;
        } catch (DWORD code) {
            LOG_ERROR << "runAsyncProc" << "work item ended by Windows error" << code;
        } catch (...) {
            LOG_ERROR << "runAsyncProc" << "work item ended by an unknown exception";
        }
    } catch (...) {
    }
}

} // namespace

void runAsync(std::function<void()> work, ULONG flags)
{
    auto copy = std::make_unique<Work>(std::move(work));
    if (!QueueUserWorkItem(runAsyncProc, copy.get(), flags))
        throw static_cast<DWORD>(GetLastError());
    // From here the work item owns the copy.
    copy.release();
}

DWORD WINAPI runAsyncProc(LPVOID context)
{
    const std::unique_ptr<Work> work(static_cast<Work*>(context));
    try {
        (*work)();
    } catch (...) {
        // Escaping a thread-pool callback would end the whole process.
        logEscapedException();
    }
    return 0;
}
