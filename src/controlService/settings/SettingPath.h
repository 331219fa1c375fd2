#pragma once
// A dotted settings name as the settings tree reads it, for the front ends that take names from
// local clients: whether it names a setting at all, and whether that setting is the stored password.

#include <string>
#include <vector>

class SettingPath {
public:
    explicit SettingPath(const std::wstring& name);

    // False when a component is empty (a leading, trailing or doubled "."). The tree skips one
    // trailing separator and looks an empty component up as a key of its own, so such a name
    // is an alias of another one, or of none: it names no setting. The empty name is the root.
    bool wellFormed() const noexcept { return wellFormed_; }
    // True when the tree would read the name as the stored account password, aliases included.
    bool isPassword() const;

    // The keys the tree looks up, in order; none for the root.
    const std::vector<std::wstring>& components() const noexcept { return components_; }

private:
    std::vector<std::wstring> components_;
    bool wellFormed_ = true;
};
