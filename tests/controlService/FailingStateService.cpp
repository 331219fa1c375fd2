// A build of the service program for the command pipe's clients only: asked for the VPN state it
// fails, as an operation of the service may, so that the request has no reply to give.
#include "ServiceProgram.h"
#include "ZazozeControlService.h"

#include <stdexcept>

namespace {

class FailingStateService : public ZazozeControlService {
public:
    int getVpnState() override { throw std::runtime_error("the VPN state cannot be had"); }
};

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    return serviceProgramMain<FailingStateService>(argc, argv);
}
