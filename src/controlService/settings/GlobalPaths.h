#pragma once
// Folders, the program's own path and the vendor API's addresses, filled once during static
// initialisation and never changed afterwards.

#include <string>

extern std::wstring TempPath;     // ends in a backslash
extern std::wstring AppdataPath;  // the common application-data folder + "Nimbal Privacy\"
extern std::wstring ModulePath;   // full path of the running program
extern std::wstring InstallPath;  // folder of ModulePath with its backslash; empty without one

extern std::wstring CheckinUrl;
extern std::wstring ServersListUrl;
extern std::wstring ServerConnectUrl;
extern std::wstring ProductsListUrl;
extern std::wstring RegisterUrl;
extern std::wstring LoginUrl;
extern std::wstring OrdersUrl;
extern std::wstring ResetUrl;
extern std::wstring LimitsUrl;
extern std::wstring SupportUrl;
extern std::wstring AutologinedUrl;
extern std::wstring LogUploadUrl;

// The host name of every endpoint above, fixed at build time.
extern const wchar_t* const ApiHost;

void initGlobalPaths();

// Creates the folder, or takes it as it is, with a protected DACL that lets in only SYSTEM and
// Administrators, inherited by everything in it. The product folder holds the settings documents
// (whose key is in this program), the daemon's configuration and credentials, and the service's log:
// with the entries of the common application-data folder every local user could read them and put
// files of their own under the names the service writes. A program that may not change the DACL of
// a folder that exists (one not run as SYSTEM or by an administrator) leaves it as it is.
void makeServiceFolder(const std::wstring& folder);

// `path` up to and including its last backslash; empty when it has none.
std::wstring folderOf(const std::wstring& path);
