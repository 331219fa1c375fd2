#pragma once
// The machine's device identifier, kept in the registry (both views) so it survives a reinstallation.

#include "Handles.h"

#include <string>

// HKEY_LOCAL_MACHINE\<ProductRegistryKey>, value GuidValueName (REG_SZ).
extern const wchar_t* const ProductRegistryKey;
extern const wchar_t* const GuidValueName;

// The stored identifier from the 32-bit view, else from the 64-bit view; empty when neither holds a text.
std::wstring readRegistryGuid();

// Opens the product key for writing in both views, creating it when it is in neither.
class RegistryGuidWriter {
public:
    explicit RegistryGuidWriter(const std::wstring& valueName);

    // True when the value was written in at least one view.
    bool write(const std::wstring& text);

private:
    RegistryKey key32;
    RegistryKey key64;
    std::wstring valueName;
};
