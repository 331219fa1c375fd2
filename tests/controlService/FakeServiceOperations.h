#pragma once
// The service's operations as the pipe server sees them, with a settings store in a folder of the
// test's own; every call is recorded, and the answers are the test's to choose.

#include "IConfigSectionManager.h"
#include "settings/ConfigManager.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class FakeServiceOperations : public IConfigSectionManager {
public:
    explicit FakeServiceOperations(const std::wstring& folder) : store(folder) {}

    ConfigSection* getConfigUser(const std::wstring& sid) override
    {
        record(L"getConfigUser", sid);
        return noSections ? nullptr : store.getConfigUser(sid);
    }
    void saveUserAndMainSettings(const std::wstring& sid) override
    {
        record(L"saveUserAndMainSettings", sid);
        if (!sid.empty())
            store.saveConfigSection(sid);
        store.saveMainSettings();
    }
    void saveConfigSection(const std::wstring& sid) override
    {
        record(L"saveConfigSection", sid);
        store.saveConfigSection(sid);
    }
    bool runUpdate() override { return record(L"runUpdate"), runUpdateResult; }
    bool launchApp(const std::wstring& commandLine) override { return record(L"launchApp", commandLine), true; }
    void setRequiredState(bool enable) override { record(L"setRequiredState", enable ? L"true" : L"false"); }
    std::wstring getUpdateUrlIfAvailable() override { return record(L"getUpdateUrlIfAvailable"), updateUrl; }
    void restartUpdateCheck() override { record(L"restartUpdateCheck"); }
    bool postLogs() override { return record(L"postLogs"), postLogsResult; }
    int getVpnState() override { return record(L"getVpnState"), vpnState; }
    RemoteServerResponse connectToServer(const std::wstring& serverId) override
    {
        record(L"connectToServer", serverId);
        return RemoteServerResponse { 401, "Unauthorized", L"Token expired, please relogin" };
    }
    RemoteServerResponse requestServersList() override
    {
        record(L"requestServersList");
        return RemoteServerResponse { 200, "OK", serversList };
    }
    RemoteServerResponse requestProductsList() override { return unexpected(L"requestProductsList"); }
    RemoteServerResponse requestOrders() override { return unexpected(L"requestOrders"); }
    RemoteServerResponse requestLogin() override { return unexpected(L"requestLogin"); }
    RemoteServerResponse requestRegister() override { return unexpected(L"requestRegister"); }
    RemoteServerResponse requestPasswordReset(const std::wstring&) override { return unexpected(L"requestPasswordReset"); }
    RemoteServerResponse requestSupport(const std::wstring&, std::wstring) override { return unexpected(L"requestSupport"); }
    RemoteServerResponse requestAccountLimits() override { return unexpected(L"requestAccountLimits"); }
    RemoteServerResponse notifyAutologin() override { return unexpected(L"notifyAutologin"); }

    // "name(argument)" for every call so far, in order.
    std::vector<std::wstring> calls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return recorded;
    }
    // The calls so far without the section look-ups and saves that accompany every connection.
    std::vector<std::wstring> operationCalls()
    {
        std::vector<std::wstring> operations;
        for (const std::wstring& call : calls()) {
            if (call.rfind(L"getConfigUser(", 0) != 0 && call.rfind(L"save", 0) != 0)
                operations.push_back(call);
        }
        return operations;
    }
    void forgetCalls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.clear();
    }

    ConfigManager store;
    // Set: every look-up gives no section, as when the store fails.
    std::atomic<bool> noSections { false };
    bool runUpdateResult = true;
    bool postLogsResult = false;
    int vpnState = 3;
    std::wstring updateUrl = L"https://example.invalid/update.exe";
    std::wstring serversList = L"[{\"id\":\"nl1\"}]";
    // Set: called with the name of every operation once it is recorded; what it throws, the
    // operation throws, as the service's may. Set while no request is served.
    std::function<void(const std::wstring& operation)> operationFailure;

private:
    void record(const std::wstring& name, const std::wstring& argument = std::wstring())
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            recorded.push_back(name + L"(" + argument + L")");
        }
        if (operationFailure)
            operationFailure(name);
    }
    RemoteServerResponse unexpected(const std::wstring& name)
    {
        record(name);
        return RemoteServerResponse { 500, "Internal Server Error", L"not a pipe command" };
    }

    std::mutex mutex;
    std::vector<std::wstring> recorded;
};
