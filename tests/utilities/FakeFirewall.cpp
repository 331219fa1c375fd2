#include "FakeFirewall.h"

#include <algorithm>

namespace {

// {304CE942-6E39-40D8-943A-B913C40C9CD4}, the firewall manager class.
constexpr CLSID ManagerClass = {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
// {EC9846B3-2762-4A6B-A214-6ACB603462D2}, the authorised-application class.
constexpr CLSID ApplicationClass = {0xec9846b3, 0x2762, 0x4a6b, {0xa2, 0x14, 0x6a, 0xcb, 0x60, 0x34, 0x62, 0xd2}};

// IUnknown and IDispatch for every fake; only the interface's own methods matter.
template <typename Interface>
class FakeObject : public Interface {
public:
    explicit FakeObject(FakeFirewall& world) : world(world) { ++world.liveObjects; }
    virtual ~FakeObject() { --world.liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

protected:
    // A getter's answer: the call's result, with `made` handed out only on success.
    template <typename Out>
    HRESULT give(const std::string& name, Out* made, Out** out)
    {
        *out = nullptr;
        const HRESULT result = world.call(name);
        if (SUCCEEDED(result) && !world.givesNothing(name)) {
            *out = made;
            return result;
        }
        made->Release();
        return result;
    }

    FakeFirewall& world;

private:
    ULONG references = 1;
};

std::wstring text(BSTR value)
{
    return value ? std::wstring(value, SysStringLen(value)) : std::wstring();
}

class FakeApplication : public FakeObject<INetFwAuthorizedApplication> {
public:
    FakeApplication(FakeFirewall& world, std::wstring imagePath = L"")
        : FakeObject(world)
        , imagePath(std::move(imagePath))
    {
    }

    HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Name(BSTR value) override
    {
        name = text(value);
        return world.call("put_Name");
    }
    HRESULT STDMETHODCALLTYPE get_ProcessImageFileName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR value) override
    {
        imagePath = text(value);
        return world.call("put_ProcessImageFileName");
    }
    HRESULT STDMETHODCALLTYPE get_IpVersion(NET_FW_IP_VERSION*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION) override { return world.call("put_IpVersion"); }
    HRESULT STDMETHODCALLTYPE get_Scope(NET_FW_SCOPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE) override { return world.call("put_Scope"); }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return world.call("put_RemoteAddresses"); }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) override
    {
        const HRESULT result = world.call("get_Enabled");
        const auto entry = world.applications.find(imagePath);
        *enabled = (entry != world.applications.end() && entry->second) ? VARIANT_TRUE : VARIANT_FALSE;
        return result;
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL) override { return world.call("put_Enabled"); }

    std::wstring imagePath;
    std::wstring name;
};

class FakeApplications : public FakeObject<INetFwAuthorizedApplications> {
public:
    using FakeObject::FakeObject;

    HRESULT STDMETHODCALLTYPE get_Count(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* application) override
    {
        const HRESULT result = world.call("Add");
        if (SUCCEEDED(result)) {
            // Only this test's own objects come here.
            auto* entry = static_cast<FakeApplication*>(application);
            world.added.emplace_back(entry->imagePath, entry->name);
            world.applications[entry->imagePath] = true; // a new entry starts enabled
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR) override { return world.call("Remove"); }
    HRESULT STDMETHODCALLTYPE Item(BSTR imagePath, INetFwAuthorizedApplication** out) override
    {
        *out = nullptr;
        if (!world.applications.count(text(imagePath))) {
            world.call("Item");
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
        return give<INetFwAuthorizedApplication>("Item", new FakeApplication(world, text(imagePath)), out);
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
};

class FakeProfile : public FakeObject<INetFwProfile> {
public:
    using FakeObject::FakeObject;

    HRESULT STDMETHODCALLTYPE get_Type(NET_FW_PROFILE_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FirewallEnabled(VARIANT_BOOL* enabled) override
    {
        *enabled = world.firewallEnabled ? VARIANT_TRUE : VARIANT_FALSE;
        return world.call("get_FirewallEnabled");
    }
    HRESULT STDMETHODCALLTYPE put_FirewallEnabled(VARIANT_BOOL) override { return world.call("put_FirewallEnabled"); }
    HRESULT STDMETHODCALLTYPE get_ExceptionsNotAllowed(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ExceptionsNotAllowed(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_RemoteAdminSettings(INetFwRemoteAdminSettings**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IcmpSettings(INetFwIcmpSettings**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_GloballyOpenPorts(INetFwOpenPorts**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Services(INetFwServices**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AuthorizedApplications(INetFwAuthorizedApplications** out) override
    {
        return give<INetFwAuthorizedApplications>("get_AuthorizedApplications", new FakeApplications(world), out);
    }
};

class FakePolicy : public FakeObject<INetFwPolicy> {
public:
    using FakeObject::FakeObject;

    HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** out) override
    {
        return give<INetFwProfile>("get_CurrentProfile", new FakeProfile(world), out);
    }
    HRESULT STDMETHODCALLTYPE GetProfileByType(NET_FW_PROFILE_TYPE, INetFwProfile**) override { return E_NOTIMPL; }
};

class FakeManager : public FakeObject<INetFwMgr> {
public:
    using FakeObject::FakeObject;

    HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** out) override
    {
        return give<INetFwPolicy>("get_LocalPolicy", new FakePolicy(world), out);
    }
    HRESULT STDMETHODCALLTYPE get_CurrentProfileType(NET_FW_PROFILE_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RestoreDefaults() override { return world.call("RestoreDefaults"); }
    HRESULT STDMETHODCALLTYPE IsPortAllowed(BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*,
                                            VARIANT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsIcmpTypeAllowed(NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*) override
    {
        return E_NOTIMPL;
    }
};

} // namespace

// Makes the fakes; lives as long as its registration, so it counts no references.
class FakeFactory : public IClassFactory {
public:
    FakeFactory(FakeFirewall& world, bool manager) : world(world), manager(manager) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        const HRESULT result = world.call(manager ? "CreateManager" : "CreateApplication");
        if (FAILED(result))
            return result;
        IUnknown* made = manager ? static_cast<IUnknown*>(new FakeManager(world))
                                 : static_cast<IUnknown*>(new FakeApplication(world));
        const HRESULT asked = made->QueryInterface(iid, out);
        made->Release();
        return asked;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    FakeFirewall& world;
    bool manager;
};

FakeFirewall::FakeFirewall()
{
    for (const bool manager : { true, false }) {
        factories.push_back(std::make_unique<FakeFactory>(*this, manager));
        DWORD cookie = 0;
        if (SUCCEEDED(CoRegisterClassObject(manager ? ManagerClass : ApplicationClass, factories.back().get(),
                                            CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
            cookies.push_back(cookie);
    }
}

FakeFirewall::~FakeFirewall()
{
    for (DWORD cookie : cookies)
        CoRevokeClassObject(cookie);
}

bool FakeFirewall::called(const std::string& name) const
{
    return std::find(calls.begin(), calls.end(), name) != calls.end();
}

HRESULT FakeFirewall::call(const std::string& name)
{
    calls.push_back(name);
    return failing.count(name) ? E_FAIL : S_OK;
}
