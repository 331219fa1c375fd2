#include "PipeClientLaunch.h"

#include "PipeClientIdentity.h"

#include "IConfigSectionManager.h"

#include "Logger.h"
#include "ProcessHelpers.h"

#include <userenv.h>

UniqueHandle pipeClientPrimaryToken(HANDLE pipe)
{
    const UniqueHandle impersonation = pipeClientToken(pipe);
    if (!impersonation)
        return UniqueHandle();
    // An identification-level token cannot become a primary one: such a client starts nothing.
    UniqueHandle primary;
    if (!DuplicateTokenEx(impersonation.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.put()))
        return UniqueHandle();
    return primary;
}

bool launchAsPipeClient(HANDLE pipe, const std::wstring& commandLine, IConfigSectionManager& manager)
{
    const UniqueHandle token = pipeClientPrimaryToken(pipe);
    if (!token) {
        const DWORD error = GetLastError();
        Logger::instance().write("CMD_LAUNCH_APP: the pipe client's identity cannot be taken, nothing started, error",
                                 error);
        return false;
    }
    if (isLocalSystemToken(token.get()))
        return manager.launchApp(commandLine);

    EnvironmentBlock environment;
    if (!CreateEnvironmentBlock(environment.put(), token.get(), FALSE)) {
        const DWORD error = GetLastError();
        Logger::instance().write("CMD_LAUNCH_APP: no environment for the pipe client, nothing started, error", error);
        return false;
    }
    return createProcessAsUser(commandLine, token.get(), environment.get());
}
