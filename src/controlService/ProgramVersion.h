#pragma once
// The version of this build, as the service reports it and compares it with the server's offer.

constexpr const wchar_t* ProgramVersion = L"1.1.0.33";

// The update type that the service installs on its own, without asking the user.
constexpr const wchar_t* SilentUpdateType = L"silent";
