#pragma once
// The version of this build of the service, as settings, check-ins and the log name it.

constexpr const wchar_t* ProductVersion = L"1.1.0.33";
