#include "FirewallException.h"

#include "ApiWire.h"

#include "settings/GlobalPaths.h"

#include "FirewallManager.h"

void ensureFirewallException()
{
    FirewallManager firewall;
    firewall.open();
    if (firewall.isFirewallEnabled() && firewall.getAppState(ModulePath) != FirewallManager::StateEnabled)
        firewall.authorizeApp(ModulePath, ApiWire::Brand);
}
