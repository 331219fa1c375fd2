#include "FirewallManager.h"

#include "BString.h"

#include <windows.h>
#include <netfw.h>

namespace {

// {304CE942-6E39-40D8-943A-B913C40C9CD4}
constexpr CLSID NetFwMgrClass = {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
// {F7898AF5-CAC4-4632-A2EC-DA06E5111AF2}
constexpr IID NetFwMgrInterface = {0xf7898af5, 0xcac4, 0x4632, {0xa2, 0xec, 0xda, 0x06, 0xe5, 0x11, 0x1a, 0xf2}};
// {EC9846B3-2762-4A6B-A214-6ACB603462D2}
constexpr CLSID AuthorizedApplicationClass = {0xec9846b3, 0x2762, 0x4a6b,
                                              {0xa2, 0x14, 0x6a, 0xcb, 0x60, 0x34, 0x62, 0xd2}};
// {B5E64FFA-C2C5-444E-A301-FB5E00018050}
constexpr IID AuthorizedApplicationInterface = {0xb5e64ffa, 0xc2c5, 0x444e,
                                                {0xa3, 0x01, 0xfb, 0x5e, 0x00, 0x01, 0x80, 0x50}};

// A call that gave a new reference: it must have succeeded and handed back an object.
template <typename Interface>
bool gave(HRESULT result, const ComPtr<Interface>& object)
{
    return SUCCEEDED(result) && object;
}

} // namespace

FirewallManager::FirewallManager() = default;
FirewallManager::~FirewallManager() = default;

void FirewallManager::open()
{
    profile.reset();

    ComPtr<INetFwMgr> manager;
    if (!gave(CoCreateInstance(NetFwMgrClass, nullptr, CLSCTX_INPROC_SERVER, NetFwMgrInterface, manager.putVoid()),
              manager))
        return;
    ComPtr<INetFwPolicy> policy;
    if (!gave(manager->get_LocalPolicy(policy.put()), policy))
        return;
    ComPtr<INetFwProfile> current;
    if (!gave(policy->get_CurrentProfile(current.put()), current))
        return;
    profile = std::move(current);
}

bool FirewallManager::isFirewallEnabled()
{
    if (!profile)
        return false;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    return SUCCEEDED(profile->get_FirewallEnabled(&enabled)) && enabled != VARIANT_FALSE;
}

ComPtr<INetFwAuthorizedApplications> FirewallManager::authorizedApplications()
{
    ComPtr<INetFwAuthorizedApplications> applications;
    if (!gave(profile->get_AuthorizedApplications(applications.put()), applications))
        applications.reset();
    return applications;
}

int FirewallManager::getAppState(const std::wstring& imagePath)
{
    if (!profile)
        return StateUnknown;
    const ComPtr<INetFwAuthorizedApplications> applications = authorizedApplications();
    const BString key(imagePath);
    if (!applications || !key)
        return StateUnknown;

    ComPtr<INetFwAuthorizedApplication> entry;
    if (!gave(applications->Item(key.get(), entry.put()), entry))
        return StateNotListed;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(entry->get_Enabled(&enabled)))
        return StateUnknown;
    return enabled != VARIANT_FALSE ? StateEnabled : StateDisabled;
}

bool FirewallManager::authorizeApp(const std::wstring& imagePath, const std::wstring& name)
{
    if (!profile)
        return false;
    if (getAppState(imagePath) == StateEnabled)
        return true;

    const ComPtr<INetFwAuthorizedApplications> applications = authorizedApplications();
    if (!applications)
        return false;
    ComPtr<INetFwAuthorizedApplication> entry;
    if (!gave(CoCreateInstance(AuthorizedApplicationClass, nullptr, CLSCTX_INPROC_SERVER,
                               AuthorizedApplicationInterface, entry.putVoid()),
              entry))
        return false;
    const BString image(imagePath);
    const BString displayName(name);
    if (!image || !displayName)
        return false;
    return SUCCEEDED(entry->put_ProcessImageFileName(image.get())) && SUCCEEDED(entry->put_Name(displayName.get())) &&
           SUCCEEDED(applications->Add(entry.get()));
}
