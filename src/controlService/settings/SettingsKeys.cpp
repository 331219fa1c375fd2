#include "SettingsKeys.h"

namespace {

const std::wstring CheckinBranch = L"LastLoginRequestInfo.";
const std::wstring UpdatableBranch = L"UpdatableSettings.";

} // namespace

void setDefaultUpdateIntervals(ConfigSection& section)
{
    section.setValue(SettingsKeys::UpdateRequestInterval, SettingsDefaults::UpdateRequestInterval);
    section.setValue(SettingsKeys::UpdateRequestIntervalIfFailed, SettingsDefaults::UpdateRequestIntervalIfFailed);
}

void copySettingIfSet(ConfigSection& section, const std::wstring& from, const std::wstring& to)
{
    const std::wstring value = section.getValue<std::wstring>(from);
    if (!value.empty() && value != L"null")
        section.setValue(to, value);
}

void copyCheckinSettings(ConfigSection& section)
{
    for (const wchar_t* name : CheckinCopiedSettings)
        copySettingIfSet(section, CheckinBranch + name, UpdatableBranch + name);
}
