#include "ClientGuid.h"


#include "settings/ConfigManager.h"
#include "settings/RegistryGuid.h"
#include "settings/SettingsKeys.h"

#include "Handles.h"
#include "Logger.h"

#include <rpc.h>

#include <stdexcept>

namespace {

struct RpcStringTraits {
    static RPC_WSTR none() noexcept { return nullptr; }
    static bool valid(RPC_WSTR h) noexcept { return h != nullptr; }
    static void close(RPC_WSTR h) noexcept { RpcStringFreeW(&h); }
};
using RpcString = UniqueOwner<RPC_WSTR, RpcStringTraits>;

void writeRegistryGuid(const std::wstring& id)
{
    RegistryGuidWriter(GuidValueName).write(id);
}

} // namespace

bool generateGuid(std::wstring& guid)
{
    GUID id;
    if (FAILED(CoCreateGuid(&id)))
        return false;
    RpcString text;
    if (UuidToStringW(&id, text.put()) != RPC_S_OK)
        return false;
    guid = reinterpret_cast<const wchar_t*>(text.get());
    return true;
}

std::wstring getClientGuid(bool& isNew)
{
    ConfigSection& settings = mainSettings();
    std::wstring id = settings.getValue<std::wstring>(SettingsKeys::ClientGuid);
    if (!id.empty()) {
        writeRegistryGuid(id);
        return id;
    }

    id = readRegistryGuid();
    if (!id.empty())
        settings.setValue(SettingsKeys::ClientGuid, id);

    if (id.empty()) {
        if (!generateGuid(id)) {
            Logger::instance().write("Error generating GUID", GetLastError());
            throw std::runtime_error("GenGuid failed");
        }
        settings.setValue(SettingsKeys::ClientGuid, id);
        writeRegistryGuid(id);
        isNew = true;
    }
    return id;
}
