#pragma once
// A firewall of the test's own, registered for this process in place of the system's firewall
// manager and authorised-application classes. It records every call, can fail any of them and
// counts its live objects, so that a reference left behind shows.

#include <windows.h>
#include <netfw.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FakeFactory;

struct FakeFirewall {
    FakeFirewall();  // registers the classes; COM must be initialised
    ~FakeFirewall(); // revokes them
    FakeFirewall(const FakeFirewall&) = delete;
    FakeFirewall& operator=(const FakeFirewall&) = delete;

    // What the firewall holds.
    bool firewallEnabled = true;
    std::map<std::wstring, bool> applications; // image path -> enabled

    // Calls by name ("CreateManager", "get_LocalPolicy", "Item", "Add", ...): those listed in
    // `failing` return E_FAIL, getters listed in `givingNothing` succeed without an object.
    std::set<std::string> failing;
    std::set<std::string> givingNothing;

    // What happened.
    std::vector<std::string> calls;
    std::vector<std::pair<std::wstring, std::wstring>> added; // image path, name
    int liveObjects = 0;

    bool registered() const { return cookies.size() == 2; }
    bool called(const std::string& name) const;

    // Records the call; E_FAIL when it is to fail.
    HRESULT call(const std::string& name);
    bool givesNothing(const std::string& name) const { return givingNothing.count(name) != 0; }

private:
    std::vector<std::unique_ptr<FakeFactory>> factories;
    std::vector<DWORD> cookies;
};
