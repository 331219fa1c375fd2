#include "ChildProcess.h"

#include <thread>
#include <vector>

namespace {

struct OwnedHandle {
    HANDLE h = nullptr;
    ~OwnedHandle() { close(); }
    void close()
    {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        h = nullptr;
    }
};

} // namespace

ChildResult runChild(const std::wstring& commandLine, const std::string& input, DWORD timeoutMs, HANDLE token)
{
    ChildResult result;
    SECURITY_ATTRIBUTES inherit { sizeof inherit, nullptr, TRUE };
    OwnedHandle outRead, outWrite, inRead, inWrite;
    if (!CreatePipe(&outRead.h, &outWrite.h, &inherit, 0) || !CreatePipe(&inRead.h, &inWrite.h, &inherit, 0))
        return result;
    SetHandleInformation(outRead.h, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite.h, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead.h;
    startup.hStdOutput = outWrite.h;
    startup.hStdError = outWrite.h;
    PROCESS_INFORMATION process {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    const BOOL created =
        token != nullptr
            ? CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                   &process)
            : CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (!created)
        return result;
    result.started = true;
    OwnedHandle processHandle { process.hProcess }, threadHandle { process.hThread };
    outWrite.close();
    inRead.close();

    std::thread feeder([&] {
        DWORD written = 0;
        if (!input.empty())
            WriteFile(inWrite.h, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        inWrite.close();
    });
    std::thread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(outRead.h, buffer, sizeof buffer, &got, nullptr) && got > 0)
            result.output.append(buffer, got);
    });

    if (WaitForSingleObject(processHandle.h, timeoutMs) == WAIT_TIMEOUT) {
        result.timedOut = true;
        TerminateProcess(processHandle.h, 1);
        WaitForSingleObject(processHandle.h, 5000);
    }
    GetExitCodeProcess(processHandle.h, &result.exitCode);
    feeder.join();
    reader.join();
    return result;
}

std::wstring hostPath(const std::string& unixPath)
{
    std::wstring path = L"Z:";
    for (char c : unixPath)
        path += (c == '/') ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

std::wstring quoted(const std::wstring& argument)
{
    return L"\"" + argument + L"\"";
}

namespace {

// One pipe to or from a child; the child's end is inheritable, ours is not.
struct ChildPipe {
    OwnedHandle ours, childs;
    bool open(bool childReads)
    {
        SECURITY_ATTRIBUTES inherit { sizeof inherit, nullptr, TRUE };
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
            return false;
        ours.h = childReads ? writeEnd : readEnd;
        childs.h = childReads ? readEnd : writeEnd;
        return SetHandleInformation(ours.h, HANDLE_FLAG_INHERIT, 0) != 0;
    }
};

std::thread drainInto(HANDLE from, std::string& into)
{
    return std::thread([from, &into] {
        char chunk[4096];
        DWORD count = 0;
        while (ReadFile(from, chunk, sizeof chunk, &count, nullptr) && count > 0)
            into.append(chunk, count);
    });
}

} // namespace

ChildResult runChildApart(const std::wstring& commandLine, const std::wstring& workingFolder,
                          const std::string& input, DWORD timeoutMs)
{
    ChildResult result;
    ChildPipe in, out, err;
    if (!in.open(true) || !out.open(false) || !err.open(false))
        return result;

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.childs.h;
    startup.hStdOutput = out.childs.h;
    startup.hStdError = err.childs.h;
    PROCESS_INFORMATION process {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, workingFolder.c_str(), &startup,
                        &process))
        return result;
    result.started = true;
    OwnedHandle child { process.hProcess }, childThread { process.hThread };
    in.childs.close();
    out.childs.close();
    err.childs.close();

    // The child may end without reading all of its input: a failed write just ends the feed.
    std::thread feeder([&] {
        DWORD written = 0;
        if (!input.empty())
            WriteFile(in.ours.h, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        in.ours.close();
    });
    std::thread outReader = drainInto(out.ours.h, result.output);
    std::thread errReader = drainInto(err.ours.h, result.errorOutput);

    if (WaitForSingleObject(child.h, timeoutMs) == WAIT_TIMEOUT) {
        result.timedOut = true;
        TerminateProcess(child.h, 1);
        WaitForSingleObject(child.h, 5000);
    }
    GetExitCodeProcess(child.h, &result.exitCode);
    feeder.join();
    outReader.join();
    errReader.join();
    return result;
}
