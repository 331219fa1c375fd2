#pragma once
// The operations through which the service's front ends (HTTP server, pipe server, watchdog,
// check-in callback) reach the service. The service object is its only implementation.

#include "RemoteServerResponse.h"

#include <string>

class ConfigSection;

class IConfigSectionManager {
public:
    virtual ConfigSection* getConfigUser(const std::wstring& sid) = 0;
    virtual void saveUserAndMainSettings(const std::wstring& sid) = 0;
    virtual void saveConfigSection(const std::wstring& sid) = 0;
    virtual bool runUpdate() = 0;
    virtual bool launchApp(const std::wstring& commandLine) = 0;
    virtual void setRequiredState(bool enable) = 0;
    virtual std::wstring getUpdateUrlIfAvailable() = 0;
    virtual void restartUpdateCheck() = 0;
    virtual bool postLogs() = 0;
    virtual int getVpnState() = 0;
    virtual RemoteServerResponse connectToServer(const std::wstring& serverId) = 0;
    virtual RemoteServerResponse requestProductsList() = 0;
    virtual RemoteServerResponse requestOrders() = 0;
    virtual RemoteServerResponse requestServersList() = 0;
    virtual RemoteServerResponse requestLogin() = 0;
    virtual RemoteServerResponse requestRegister() = 0;
    virtual RemoteServerResponse requestPasswordReset(const std::wstring& email) = 0;
    virtual RemoteServerResponse requestSupport(const std::wstring& message, std::wstring address) = 0;
    virtual RemoteServerResponse requestAccountLimits() = 0;
    virtual RemoteServerResponse notifyAutologin() = 0;

protected:
    // Not deleted through this interface: the service object owns itself.
    ~IConfigSectionManager() = default;
};
