#include "PipeClientLaunch.h"

#include "PipeLogTexts.h"

#include "IConfigSectionManager.h"

#include "Logger.h"
#include "ProcessHelpers.h"

#include <userenv.h>

#include <vector>

UniqueHandle pipeClientPrimaryToken(HANDLE pipe)
{
    if (!ImpersonateNamedPipeClient(pipe))
        return UniqueHandle();
    UniqueHandle impersonation;
    const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, impersonation.put());
    const DWORD error = GetLastError();
    RevertToSelf();
    if (!opened) {
        SetLastError(error);
        return UniqueHandle();
    }
    // An identification-level token cannot become a primary one: such a client starts nothing.
    UniqueHandle primary;
    if (!DuplicateTokenEx(impersonation.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.put()))
        return UniqueHandle();
    return primary;
}

bool isLocalSystemToken(HANDLE token)
{
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    if (needed == 0)
        return false;
    std::vector<BYTE> buffer(needed);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed))
        return false;
    return IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, WinLocalSystemSid) != FALSE;
}

bool launchAsPipeClient(HANDLE pipe, const std::wstring& commandLine, IConfigSectionManager& manager)
{
    const UniqueHandle token = pipeClientPrimaryToken(pipe);
    if (!token) {
        const DWORD error = GetLastError();
        Logger::instance().write(PipeLog::LaunchNoIdentity, error);
        return false;
    }
    if (isLocalSystemToken(token.get()))
        return manager.launchApp(commandLine);

    EnvironmentBlock environment;
    if (!CreateEnvironmentBlock(environment.put(), token.get(), FALSE)) {
        const DWORD error = GetLastError();
        Logger::instance().write(PipeLog::LaunchNoEnvironment, error);
        return false;
    }
    return createProcessAsUser(commandLine, token.get(), environment.get());
}
