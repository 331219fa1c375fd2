#pragma once
// The device identifier sent with every API request: kept in the settings and, so that it survives
// a reinstallation, in the registry.

#include <string>

// The stored identifier, else the registry's, else a new one (then isNew is set to true; it is
// left as it is otherwise). The registry is brought in step with the settings. Throws
// std::runtime_error when no identifier can be made.
std::wstring getClientGuid(bool& isNew);

// A new GUID as 36 lowercase hexadecimal digits and hyphens, without braces. False when the system fails.
bool generateGuid(std::wstring& guid);
