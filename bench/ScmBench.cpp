// Service start and stop through the service control manager, timed run by run:
//   scm_bench compare NAME RUNS   StartServiceW to RUNNING and the stop control to STOPPED, RUNS times
//                                 for the installed service NAME and, turn about, for a service that
//                                 does nothing (installed and removed again here)
//   scm_bench bare-service        that service's program, as the control manager starts it
// Prints one JSON line with the seconds of each run.

#include "BenchFigures.h"

#include "Handles.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* BareServiceName = L"NimbalBenchBare";
constexpr double StateWithinS = 60;
constexpr double ExitWithinS = 30;
// Between RUNNING and the stop control: the service's workers are under way, as in real use.
constexpr DWORD SettleMs = 1000;
constexpr DWORD ProgramLimitMs = 10 * 60 * 1000;

int fail(const char* what)
{
    std::fprintf(stderr, "scm_bench: %s (error %lu)\n", what, GetLastError());
    return 1;
}

bool failed(const char* what)
{
    fail(what);
    return false;
}

bool query(SC_HANDLE service, SERVICE_STATUS_PROCESS& status)
{
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                &needed) != 0;
}

// Polls every millisecond; false when the state did not come within the limit.
bool waitForState(SC_HANDLE service, DWORD wanted, SERVICE_STATUS_PROCESS& status)
{
    const Stopwatch waited;
    while (waited.seconds() < StateWithinS) {
        if (!query(service, status))
            return false;
        if (status.dwCurrentState == wanted)
            return true;
        Sleep(1);
    }
    return false;
}

// A stopped service's process may still be ending; the next start must not meet it.
void waitForExit(DWORD processId)
{
    if (processId == 0)
        return;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (process)
        WaitForSingleObject(process.get(), static_cast<DWORD>(ExitWithinS * 1000));
}

bool stopAndWait(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status {};
    if (!query(service, status))
        return false;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    const DWORD processId = status.dwProcessId;
    SERVICE_STATUS plain {};
    ControlService(service, SERVICE_CONTROL_STOP, &plain);
    const bool stopped = waitForState(service, SERVICE_STOPPED, status);
    waitForExit(processId);
    return stopped;
}

struct Runs {
    std::vector<double> startSeconds;
    std::vector<double> stopSeconds;
};

// One start and stop; false (with the reason printed) when either did not come in time.
bool timeOneRun(SC_HANDLE service, Runs& runs)
{
    SERVICE_STATUS_PROCESS status {};
    const Stopwatch starting;
    if (!StartServiceW(service, 0, nullptr))
        return failed("StartServiceW");
    if (!waitForState(service, SERVICE_RUNNING, status))
        return failed("no RUNNING in time");
    runs.startSeconds.push_back(starting.seconds());
    const DWORD processId = status.dwProcessId;

    Sleep(SettleMs);
    SERVICE_STATUS plain {};
    const Stopwatch stopping;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &plain))
        return failed("ControlService stop");
    if (!waitForState(service, SERVICE_STOPPED, status))
        return failed("no STOPPED in time");
    runs.stopSeconds.push_back(stopping.seconds());
    waitForExit(processId);
    return true;
}

// The service that does nothing, made anew for this build's program.
ScHandle createBareService(SC_HANDLE manager)
{
    wchar_t self[MAX_PATH];
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0)
        return ScHandle();
    const std::wstring command = L"\"" + std::wstring(self) + L"\" bare-service";
    // Left behind by a run that died: replaced, so the path is this build's.
    ScHandle old(OpenServiceW(manager, BareServiceName, SERVICE_ALL_ACCESS));
    if (old) {
        stopAndWait(old.get());
        DeleteService(old.get());
    }
    old.reset();
    return ScHandle(CreateServiceW(manager, BareServiceName, BareServiceName, SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                   command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

int compare(const wchar_t* name, int count)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return fail("OpenSCManagerW");
    ScHandle service(OpenServiceW(manager.get(), name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service)
        return fail("OpenServiceW");
    if (!stopAndWait(service.get()))
        return fail("the service did not stop before the runs");
    ScHandle bare = createBareService(manager.get());
    if (!bare)
        return fail("CreateServiceW");

    // Turn about, so that a change in the machine's load falls on both alike.
    Runs serviceRuns;
    Runs bareRuns;
    bool completed = true;
    for (int run = 0; run < count && completed; ++run)
        completed = timeOneRun(service.get(), serviceRuns) && timeOneRun(bare.get(), bareRuns);
    stopAndWait(bare.get());
    DeleteService(bare.get());
    if (!completed)
        return 1;
    JsonLine()
        .add("service_start_s", serviceRuns.startSeconds)
        .add("service_stop_s", serviceRuns.stopSeconds)
        .add("bare_start_s", bareRuns.startSeconds)
        .add("bare_stop_s", bareRuns.stopSeconds)
        .print();
    return 0;
}

// The bare service: RUNNING at once, STOPPED as soon as asked.
SERVICE_STATUS_HANDLE bareStatusHandle = nullptr;
HANDLE bareStopEvent = nullptr;

void report(DWORD state)
{
    SERVICE_STATUS status {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(bareStatusHandle, &status);
}

DWORD WINAPI bareControl(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        SetEvent(bareStopEvent);
    }
    return NO_ERROR;
}

void WINAPI bareMain(DWORD, LPWSTR*)
{
    bareStatusHandle = RegisterServiceCtrlHandlerExW(BareServiceName, bareControl, nullptr);
    if (bareStatusHandle == nullptr)
        return;
    bareStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    report(SERVICE_RUNNING);
    WaitForSingleObject(bareStopEvent, ProgramLimitMs);
    report(SERVICE_STOPPED);
}

int bareService()
{
    wchar_t name[] = L"NimbalBenchBare";
    const SERVICE_TABLE_ENTRYW table[] = { { name, bareMain }, { nullptr, nullptr } };
    return StartServiceCtrlDispatcherW(table) ? 0 : fail("StartServiceCtrlDispatcherW");
}

int usage()
{
    std::fprintf(stderr, "usage: scm_bench compare NAME RUNS | bare-service\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc < 2)
        return usage();
    const std::wstring mode = argv[1];
    if (mode == L"bare-service")
        return bareService();
    endProcessAfter(ProgramLimitMs);
    if (mode == L"compare" && argc >= 4 && _wtoi(argv[3]) > 0)
        return compare(argv[2], _wtoi(argv[3]));
    return usage();
}
