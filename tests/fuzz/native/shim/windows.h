#pragma once
// Just enough of <windows.h> for the pipe frame code to build on Linux, where the sanitizers are.
// ReadFile, WriteFile and GetLastError are the harness's own: they read and write its fake pipe.

#include <cstdint>

using BOOL = int;
using DWORD = std::uint32_t;
using HANDLE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define ERROR_BROKEN_PIPE 109L
#define ERROR_MORE_DATA 234L

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD GetLastError();
