#include "RegistryGuid.h"


#include "Logger.h"
#include "StringHelpers.h"

#include <vector>

const wchar_t* const ProductRegistryKey = L"Software\\Kestrova Ltd.\\Nimbal Privacy";
const wchar_t* const GuidValueName = L"guid";

namespace {

// A REG_SZ or REG_EXPAND_SZ text ending in its NUL; anything else reads as empty.
// A failure leaves the registry's error as the thread's last error, for the caller's log line.
std::wstring readGuidFromView(REGSAM view)
{
    RegistryKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, KEY_READ | view, key.put());
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return std::wstring();
    }
    DWORD type = 0;
    DWORD size = 0;
    status = RegQueryValueExW(key.get(), GuidValueName, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return std::wstring();
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t))
        return std::wstring();

    std::vector<wchar_t> data(size / sizeof(wchar_t));
    DWORD got = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = RegQueryValueExW(key.get(), GuidValueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return std::wstring();
    }
    if (got % sizeof(wchar_t) != 0 || got < sizeof(wchar_t) || got > data.size() * sizeof(wchar_t))
        return std::wstring();
    const size_t units = got / sizeof(wchar_t);
    if (data[units - 1] != L'\0')
        return std::wstring();
    return std::wstring(data.data(), units - 1);
}

} // namespace

std::wstring readRegistryGuid()
{
    std::wstring guid = readGuidFromView(KEY_WOW64_32KEY);
    if (guid.empty())
        guid = readGuidFromView(KEY_WOW64_64KEY);
    if (guid.empty()) {
        const DWORD error = GetLastError();
        LOG_INFO << "Failed reading [" << ProductRegistryKey << "] @" << GuidValueName << ", error:" << error;
    }
    return guid;
}

RegistryGuidWriter::RegistryGuidWriter(const std::wstring& valueName)
    : valueName(valueName)
{
    const REGSAM access32 = KEY_WRITE | KEY_WOW64_32KEY;
    const REGSAM access64 = KEY_WRITE | KEY_WOW64_64KEY;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, access32, key32.put());
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, access64, key64.put());
    if (key32 || key64)
        return;

    const auto create = [](REGSAM access, RegistryKey& key) {
        const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProductRegistryKey, 0, nullptr,
                                               REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr);
        if (status != ERROR_SUCCESS)
            SetLastError(status);
    };
    create(access32, key32);
    create(access64, key64);
    if (!key32 && !key64) {
        const DWORD error = GetLastError();
        LOG_ERROR << "Failed opening for writing [" << ProductRegistryKey << "] @" << valueName << ", error:" << error;
    }
}

bool RegistryGuidWriter::write(const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    bool written = false;
    for (const RegistryKey* key : { &key32, &key64 }) {
        if (*key && RegSetValueExW(key->get(), valueName.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS)
            written = true;
    }
    return written;
}
