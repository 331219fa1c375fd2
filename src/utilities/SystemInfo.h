#pragma once
// Facts about the machine that the service reports to the vendor's API.

#include <string>

// "64" on a 64-bit Windows (this program is 32-bit, so it runs under WOW64 there), else "32".
std::wstring getBitness();
// Major and minor version, as "6.1".
std::wstring getOsVersion();
// Service-pack major and minor number, as "1.0"; "0.0" without a service pack.
std::wstring getServicePackVersion();
// The user's language and country, as "en_US"; "en_US" when the language is unknown, the
// language alone when only the country is.
std::wstring getLocaleName();
