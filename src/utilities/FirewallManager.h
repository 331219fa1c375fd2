#pragma once
// Keeps a program on the Windows Firewall's list of authorised applications, through the
// firewall manager object of the current profile. COM must be initialised on the calling thread.

#include "ComPtr.h"

#include <string>

struct INetFwProfile;
struct INetFwAuthorizedApplications;

class FirewallManager {
public:
    FirewallManager();
    ~FirewallManager();
    FirewallManager(const FirewallManager&) = delete;
    FirewallManager& operator=(const FirewallManager&) = delete;

    // Drops any profile held, then takes the current one; a failure leaves none.
    void open();
    bool isFirewallEnabled();

    static constexpr int StateEnabled = 1;
    static constexpr int StateDisabled = -1;
    static constexpr int StateNotListed = -2;
    static constexpr int StateUnknown = 0; // no profile, or the firewall did not answer
    int getAppState(const std::wstring& imagePath);

    // True when the program is listed and enabled already, or was added now.
    bool authorizeApp(const std::wstring& imagePath, const std::wstring& name);

private:
    ComPtr<INetFwAuthorizedApplications> authorizedApplications();

    ComPtr<INetFwProfile> profile;
};
