// A build of the service program for the stop tests only: its update worker counts as running
// for ever, so a stop has to give up waiting for it.
#include "ServiceProgram.h"
#include "ZazozeControlService.h"

namespace {

class HungWorkerService : public ZazozeControlService {
protected:
    void OnStart(DWORD argc, LPWSTR* argv) override
    {
        ZazozeControlService::OnStart(argc, argv);
        asyncUpdateRunning = true;
    }
};

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    return serviceProgramMain<HungWorkerService>(argc, argv);
}
