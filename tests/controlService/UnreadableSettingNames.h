#pragma once
// Names that a local client may send for a setting of the general section and must get no value
// for: the stored password and its aliases (the tree skips one trailing "."), keys of another case
// (the tree folds none), and names with an empty component, which the tree reads as other keys.
// The tests store the password, "Browser.homePage" and "Odd..key" (below an empty key) first.

#include "settings/ConfigSection.h"

#include <string>
#include <vector>

// A key below an empty one, as a document written before such names were refused may hold it:
// only the name "Odd..key" reaches it, and no write of today can make it.
inline void storeKeyBelowAnEmptyKey(ConfigSection& section)
{
    ConfigSection::Tree belowEmpty;
    belowEmpty.put(L"key", L"odd");
    ConfigSection::Tree odd;
    odd.push_back({ L"", belowEmpty });
    section.putChild(L"Odd", odd);
}

inline const std::vector<std::wstring> UnreadableSettingNames = {
    L"Hidden.VpnUser.password",  L"Hidden.VpnUser.password.", L"Hidden.VpnUser.password..",
    L"Hidden..VpnUser.password", L".Hidden.VpnUser.password", L"Hidden.VpnUser.Password",
    L"HIDDEN.VPNUSER.PASSWORD",  L"Browser.homePage.",        L"Browser..homePage",
    L"Odd..key",                 L".",
};
