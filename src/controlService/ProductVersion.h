#pragma once
// The version of this build of the service, as settings, check-ins and the log name it. Written
// once: NIMBAL_VERSION is the narrow literal, so that a log text that carries the version still
// reads whole ("..., version " NIMBAL_VERSION " built"); ProductVersion is the same text wide.

#define NIMBAL_VERSION "1.1.0.33"

constexpr const wchar_t* ProductVersion = L"" NIMBAL_VERSION;
