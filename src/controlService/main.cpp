// Entry of the service program.
#include "ServiceProgram.h"
#include "ZazozeControlService.h"

int wmain(int argc, wchar_t* argv[])
{
    return serviceProgramMain<ZazozeControlService>(argc, argv);
}
