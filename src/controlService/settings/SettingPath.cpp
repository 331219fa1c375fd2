#include "SettingPath.h"

#include "SettingsKeys.h"

SettingPath::SettingPath(const std::wstring& name)
{
    if (name.empty())
        return;
    std::wstring::size_type start = 0;
    for (;;) {
        const std::wstring::size_type dot = name.find(L'.', start);
        const std::wstring::size_type end = dot == std::wstring::npos ? name.size() : dot;
        components_.push_back(name.substr(start, end - start));
        if (components_.back().empty())
            wellFormed_ = false;
        if (dot == std::wstring::npos)
            return;
        start = dot + 1;
        // A separator that ends the name starts no component: the tree's reader stops there.
        if (start == name.size()) {
            wellFormed_ = false;
            return;
        }
    }
}

bool SettingPath::isPassword() const
{
    static const std::vector<std::wstring> password = SettingPath(SettingsKeys::VpnUserPassword).components();
    return components_ == password;
}
