#pragma once
// The one service of the system, as the service control manager knows it.

constexpr const wchar_t* ServiceName = L"Nimbal";
constexpr const wchar_t* ServiceDisplayName = L"Nimbal Privacy";
constexpr const wchar_t* ServiceDescription = L"Controls VPN connection state for Nimbal Privacy Browser";
