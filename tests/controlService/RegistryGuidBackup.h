#pragma once
// The product's registry key and its "guid" value in one view: read, written, and put back after a
// test that changes the real key.

#include "settings/RegistryGuid.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace registry_guid_backup {

const wchar_t ParentKey[] = L"Software\\Kestrova Ltd.";

struct StoredValue {
    DWORD type = 0;
    std::string data;
};

inline bool keyExists(REGSAM view, const wchar_t* path = ProductRegistryKey)
{
    RegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

inline RegistryKey createKey(REGSAM view)
{
    RegistryKey key;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    return key;
}

inline void setRaw(REGSAM view, DWORD type, const void* data, DWORD size)
{
    RegistryKey key = createKey(view);
    ASSERT_EQ(RegSetValueExW(key.get(), GuidValueName, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

inline std::optional<StoredValue> readRaw(REGSAM view)
{
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    StoredValue value;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), GuidValueName, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    RegQueryValueExW(key.get(), GuidValueName, nullptr, &value.type, reinterpret_cast<BYTE*>(&value.data[0]), &size);
    return value;
}

inline void removeValue(REGSAM view)
{
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, KEY_SET_VALUE | view, key.put()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), GuidValueName);
}

inline void removeKeys(REGSAM view, bool parentToo)
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, view, 0);
    if (parentToo)
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, ParentKey, view, 0);
}

// What one view held before the test, so that it can be put back.
struct ViewState {
    REGSAM view;
    bool parentExisted;
    bool keyExisted;
    std::optional<StoredValue> value;

    explicit ViewState(REGSAM v)
        : view(v)
        , parentExisted(keyExists(v, ParentKey))
        , keyExisted(keyExists(v))
        , value(readRaw(v))
    {
    }

    void restore() const
    {
        if (!keyExisted) {
            removeKeys(view, !parentExisted);
            return;
        }
        if (value)
            setRaw(view, value->type, value->data.data(), static_cast<DWORD>(value->data.size()));
        else
            removeValue(view);
    }
};

} // namespace registry_guid_backup
