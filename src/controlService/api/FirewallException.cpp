#include "FirewallException.h"

#include "ApiTexts.h"

#include "settings/GlobalPaths.h"

#include "FirewallManager.h"

namespace {

constexpr int ListedAndEnabled = 1;

} // namespace

void ensureFirewallException()
{
    FirewallManager firewall;
    firewall.open();
    if (firewall.isFirewallEnabled() && firewall.getAppState(ModulePath) != ListedAndEnabled)
        firewall.authorizeApp(ModulePath, ApiWire::Brand);
}
