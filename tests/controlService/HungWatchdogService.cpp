// A build of the service program for the stop tests only: its VPN watchdog counts as running for
// ever, so a connect waits for a watchdog that does not end, and a stop meets that connect.
#include "ServiceProgram.h"
#include "ZazozeControlService.h"

namespace {

class HungWatchdogService : public ZazozeControlService {
protected:
    void OnStart(DWORD argc, LPWSTR* argv) override
    {
        ZazozeControlService::OnStart(argc, argv);
        checkOpenVpnStateThreadRunning = true;
    }
};

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    return serviceProgramMain<HungWatchdogService>(argc, argv);
}
