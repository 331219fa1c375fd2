#pragma once
// The service as the HTTP server's handlers see it: every call recorded, results chosen by the test.

#include "IConfigSectionManager.h"

#include "StringHelpers.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class FakeConfigSectionManager : public IConfigSectionManager {
public:
    // Every call so far, in order, as "operation(argument, ...)".
    std::vector<std::string> calls() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return recorded;
    }

    // The reply of a vendor-API operation; without one it answers 200 "OK" "<operation> reply".
    void setResult(const std::string& operation, RemoteServerResponse result)
    {
        std::lock_guard<std::mutex> lock(mutex);
        results[operation] = std::move(result);
    }

    bool runUpdateResult = true;
    bool postLogsResult = true;
    int vpnState = 0;
    // Runs after a call is recorded, with its operation's name: it may throw or wait.
    std::function<void(const std::string& operation)> onCall;

    ConfigSection* getConfigUser(const std::wstring& sid) override
    {
        record("getConfigUser", sid);
        return nullptr;
    }
    void saveUserAndMainSettings(const std::wstring& sid) override { record("saveUserAndMainSettings", sid); }
    void saveConfigSection(const std::wstring& sid) override { record("saveConfigSection", sid); }
    bool runUpdate() override
    {
        record("runUpdate");
        return runUpdateResult;
    }
    bool launchApp(const std::wstring& commandLine) override
    {
        record("launchApp", commandLine);
        return false;
    }
    void setRequiredState(bool enable) override { record("setRequiredState", enable ? L"true" : L"false"); }
    std::wstring getUpdateUrlIfAvailable() override
    {
        record("getUpdateUrlIfAvailable");
        return std::wstring();
    }
    void restartUpdateCheck() override { record("restartUpdateCheck"); }
    bool postLogs() override
    {
        record("postLogs");
        return postLogsResult;
    }
    int getVpnState() override
    {
        record("getVpnState");
        return vpnState;
    }
    RemoteServerResponse connectToServer(const std::wstring& serverId) override
    {
        return reply("connectToServer", serverId);
    }
    RemoteServerResponse requestProductsList() override { return reply("requestProductsList"); }
    RemoteServerResponse requestOrders() override { return reply("requestOrders"); }
    RemoteServerResponse requestServersList() override { return reply("requestServersList"); }
    RemoteServerResponse requestLogin() override { return reply("requestLogin"); }
    RemoteServerResponse requestRegister() override { return reply("requestRegister"); }
    RemoteServerResponse requestPasswordReset(const std::wstring& email) override
    {
        return reply("requestPasswordReset", email);
    }
    RemoteServerResponse requestSupport(const std::wstring& message, std::wstring address) override
    {
        return reply("requestSupport", message, address);
    }
    RemoteServerResponse requestAccountLimits() override { return reply("requestAccountLimits"); }
    RemoteServerResponse notifyAutologin() override { return reply("notifyAutologin"); }

private:
    template <typename... Arguments>
    void record(const std::string& operation, const Arguments&... arguments)
    {
        const std::vector<std::wstring> parts { std::wstring(arguments)... };
        std::string call = operation + "(";
        for (size_t i = 0; i < parts.size(); ++i)
            call += (i == 0 ? "" : ", ") + toNarrowString(parts[i]);
        {
            std::lock_guard<std::mutex> lock(mutex);
            recorded.push_back(call + ")");
        }
        if (onCall)
            onCall(operation);
    }

    template <typename... Arguments>
    RemoteServerResponse reply(const std::string& operation, const Arguments&... arguments)
    {
        record(operation, arguments...);
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = results.find(operation);
        if (found != results.end())
            return found->second;
        return { 200, "OK", toWideString(operation + " reply") };
    }

    mutable std::mutex mutex;
    std::vector<std::string> recorded;
    std::map<std::string, RemoteServerResponse> results;
};
