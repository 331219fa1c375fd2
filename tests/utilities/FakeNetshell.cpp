// The fake network-connection manager (see FakeNetshell.h).
#include "FakeNetshell.h"

#include <netcon.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

const CLSID ManagerClass = { 0xBA126AD1, 0x2166, 0x11D1, { 0xB1, 0xD0, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E } };
const IID ManagerInterface = { 0xC08956A2, 0x1CD3, 0x11D1, { 0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E } };
const IID EnumInterface = { 0xC08956A0, 0x1CD3, 0x11D1, { 0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E } };
const IID ConnectionInterface = { 0xC08956A1, 0x1CD3, 0x11D1, { 0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E } };

struct Setup {
    std::wstring deviceName;
    HRESULT propertiesResult;
    HRESULT connectResult;
};

std::vector<Setup> connections;
FakeReport report {};
std::atomic<int> liveObjects { 0 };

wchar_t* taskCopy(const std::wstring& text)
{
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    text.copy(copy, text.size());
    copy[text.size()] = L'\0';
    return copy;
}

// Reference counting and QueryInterface for one interface; counts itself while it lives.
template <typename Interface>
class Counted : public Interface {
public:
    explicit Counted(const IID& iid) : iid_(iid) { ++liveObjects; }
    virtual ~Counted() { --liveObjects; }

    HRESULT WINAPI QueryInterface(REFIID riid, void** object) override
    {
        if (riid != IID_IUnknown && riid != iid_) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<Interface*>(this);
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return ++references_; }
    ULONG WINAPI Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    const IID& iid_;
    std::atomic<ULONG> references_ { 1 };
};

class Connection : public Counted<INetConnection> {
public:
    explicit Connection(int index) : Counted(ConnectionInterface), index_(index) {}

    HRESULT WINAPI Connect() override
    {
        if (report.connectCount < 16)
            report.connected[report.connectCount++] = index_;
        return connections[index_].connectResult;
    }
    HRESULT WINAPI GetProperties(NETCON_PROPERTIES** properties) override
    {
        *properties = nullptr;
        if (FAILED(connections[index_].propertiesResult))
            return connections[index_].propertiesResult;
        auto* made = static_cast<NETCON_PROPERTIES*>(CoTaskMemAlloc(sizeof(NETCON_PROPERTIES)));
        ZeroMemory(made, sizeof *made);
        made->pszwName = taskCopy(L"Connection " + std::to_wstring(index_));
        made->pszwDeviceName = taskCopy(connections[index_].deviceName);
        made->Status = NCS_DISCONNECTED;
        ++report.propertiesHanded;
        *properties = made;
        return S_OK;
    }
    HRESULT WINAPI Disconnect() override { return E_NOTIMPL; }
    HRESULT WINAPI Delete() override { return E_NOTIMPL; }
    HRESULT WINAPI Duplicate(LPCWSTR, INetConnection**) override { return E_NOTIMPL; }
    HRESULT WINAPI GetUiObjectClassId(CLSID*) override { return E_NOTIMPL; }
    HRESULT WINAPI Rename(LPCWSTR) override { return E_NOTIMPL; }

private:
    int index_;
};

class Enumerator : public Counted<IEnumNetConnection> {
public:
    Enumerator() : Counted(EnumInterface) {}

    HRESULT WINAPI Next(ULONG count, INetConnection** items, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (count == 0 || next_ >= static_cast<int>(connections.size()))
            return S_FALSE;
        items[0] = new Connection(next_++);
        if (fetched)
            *fetched = 1;
        return count == 1 ? S_OK : S_FALSE;
    }
    HRESULT WINAPI Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT WINAPI Reset() override
    {
        next_ = 0;
        return S_OK;
    }
    HRESULT WINAPI Clone(IEnumNetConnection**) override { return E_NOTIMPL; }

private:
    int next_ = 0;
};

class Manager : public Counted<INetConnectionManager> {
public:
    Manager() : Counted(ManagerInterface) {}

    HRESULT WINAPI EnumConnections(NETCONMGR_ENUM_FLAGS, IEnumNetConnection** result) override
    {
        *result = new Enumerator();
        return S_OK;
    }
};

class Factory : public IClassFactory {
public:
    HRESULT WINAPI QueryInterface(REFIID riid, void** object) override
    {
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return 2; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* manager = new Manager();
        const HRESULT result = manager->QueryInterface(riid, object);
        manager->Release();
        return result;
    }
    HRESULT WINAPI LockServer(BOOL) override { return S_OK; }
};

Factory factory;

} // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object)
{
    if (clsid != ManagerClass) {
        *object = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(riid, object);
}

// The tests load the fake themselves, so it never goes away under them.
__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}

__declspec(dllexport) void WINAPI NcFreeNetconProperties(NETCON_PROPERTIES* properties)
{
    CoTaskMemFree(properties->pszwName);
    CoTaskMemFree(properties->pszwDeviceName);
    CoTaskMemFree(properties);
    ++report.propertiesFreed;
}

__declspec(dllexport) void FakeNetshellConfigure(const FakeConnection* list, int count)
{
    connections.clear();
    for (int i = 0; i < count; ++i)
        connections.push_back({ list[i].deviceName, list[i].propertiesResult, list[i].connectResult });
    report = FakeReport {};
}

__declspec(dllexport) void FakeNetshellReport(FakeReport* result)
{
    *result = report;
    result->liveObjects = liveObjects;
}

} // extern "C"
