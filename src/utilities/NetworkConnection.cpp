#include "NetworkConnection.h"

#include "ComPtr.h"
#include "Handles.h"
#include "Logger.h"

#include <netcon.h>

#include <cwchar>
#include <mutex>

namespace {

// The import library has neither of these.
const CLSID ConnectionManagerClass = { 0xBA126AD1, 0x2166, 0x11D1, { 0xB1, 0xD0, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E } };
const IID ConnectionManagerInterface = { 0xC08956A2, 0x1CD3, 0x11D1,
                                         { 0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E } };

using FreeProperties = void(WINAPI*)(NETCON_PROPERTIES*);

std::mutex& connectMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Connects the connection when it matches; true when it matched.
bool connectIfMatching(INetConnection& connection, const std::wstring& device, FreeProperties freeProperties)
{
    NETCON_PROPERTIES* properties = nullptr;
    if (FAILED(connection.GetProperties(&properties)) || properties == nullptr)
        return false;
    const bool matches = device.empty() ||
                         (properties->pszwDeviceName != nullptr &&
                          std::wcsstr(properties->pszwDeviceName, device.c_str()) != nullptr);
    if (matches) {
        const HRESULT result = connection.Connect();
        if (result != S_OK)
            Logger::instance().write("INetConnection::Connect", result);
    }
    freeProperties(properties);
    return matches;
}

} // namespace

bool connectNetworkConnection(const std::wstring& device)
{
    const std::lock_guard<std::mutex> lock(connectMutex());

    // Declared first, so that every COM object below is released before the library is freed.
    const LibraryModule netshell(LoadLibraryW(L"netshell.dll"));
    if (!netshell) {
        Logger::instance().write("Cannot load netshell.dll");
        return false;
    }
    // Through a plain function pointer type, as GetProcAddress's own type says nothing.
    const auto freeProperties = reinterpret_cast<FreeProperties>(
        reinterpret_cast<void (*)()>(GetProcAddress(netshell.get(), "NcFreeNetconProperties")));
    if (freeProperties == nullptr) {
        Logger::instance().write("Cannot load NcFreeNetconProperties from netshell.dll");
        return false;
    }

    ComPtr<INetConnectionManager> manager;
    if (FAILED(CoCreateInstance(ConnectionManagerClass, nullptr, CLSCTX_ALL, ConnectionManagerInterface,
                                manager.putVoid())) ||
        !manager)
        return false;
    ComPtr<IEnumNetConnection> connections;
    if (FAILED(manager->EnumConnections(NCME_DEFAULT, connections.put())) || !connections)
        return false;

    for (;;) {
        ComPtr<INetConnection> connection;
        ULONG fetched = 0;
        if (connections->Next(1, connection.put(), &fetched) != S_OK || !connection)
            break;
        // A named device is connected once; an empty name connects them all.
        if (connectIfMatching(*connection.get(), device, freeProperties) && !device.empty())
            break;
    }
    return true;
}
