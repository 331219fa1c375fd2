#pragma once
// Every log text of the update download and launch, as it appears in the log.

namespace UpdateLog {

// The service's side
constexpr const char* Start = "Start ";
constexpr const char* Stop = "Stop ";
constexpr const char* RunUpdate = "ZazozeControlService::runUpdate";
constexpr const char* GetUpdateUrl = "ZazozeControlService::getUpdateUrlIfAvailable";
constexpr const char* UpdateAsynchronously = "ZazozeControlService::updateAsynchronously";
constexpr const char* Update = "ZazozeControlService::update";
constexpr const char* AlreadyRunning = "Asynchronous update already running";
constexpr const char* LaunchFailedWithError = "ZazozeControlService::UpdateAsynchronously launch failed with error";
constexpr const char* LaunchFailedWith = "ZazozeControlService::UpdateAsynchronously launch failed with: ";
constexpr const char* LaunchFailedUnknown = "ZazozeControlService::UpdateAsynchronously launch failed with unknown error";
constexpr const char* Busy = "updDownloader is busy when running";
constexpr const char* RejectingDownload = "rejecting download";
constexpr const char* EmptyUrl = "Update URL is empty";
constexpr const char* NotDownloaded = "Update did not downloaded ok";
constexpr const char* Launched = "Update launched ok";
constexpr const char* NotLaunched = "Update did not launched ok";
constexpr const char* NameExists = "exists, trying to generate another";

// The downloader
constexpr const char* DownloadEmptyUrl = "Downloading file: empty URL";
constexpr const char* CrackUrlFailed = "Error in WinHttpCrackUrl";
constexpr const char* DownloadingFile = "Downloading file '";
constexpr const char* FromUrl = "' from '";
constexpr const char* ClosingQuote = "'";
constexpr const char* IncorrectPath = "Incorrect path";
constexpr const char* CannotCreateFolder = "Cannot create output file directory";
constexpr const char* CannotOpenFile = "Cannot open output file";
constexpr const char* HttpStatus = "UpdateDownloader::downloadFile: the server answered with HTTP status";
constexpr const char* Cancelled = "cancel_downloading==true";
constexpr const char* QueryDataFailed = "Error in WinHttpQueryDataAvailable";
constexpr const char* ResizeFailed = "Resize failed";
constexpr const char* ReadDataFailed = "Error in WinHttpReadData";
constexpr const char* WriteFailed = "Write error condition detected, error: ";
constexpr const char* IsOk = "isOk=";
constexpr const char* ErrorOccurred = "Error has occurred";
constexpr const char* DownloadEnded = "Download ended";
constexpr const char* Destructor = "UpdateDownloader::~UpdateDownloader";
constexpr const char* MustAbort = "ERROR: must abort downloading update before destructing the object";

} // namespace UpdateLog
