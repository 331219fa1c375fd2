#pragma once
// Downloads one update installer into a file over WinHTTP, synchronously, cancellable between
// chunks.

#include <atomic>
#include <string>

class UpdateDownloader {
public:
    UpdateDownloader() = default;
    ~UpdateDownloader();
    UpdateDownloader(const UpdateDownloader&) = delete;
    UpdateDownloader& operator=(const UpdateDownloader&) = delete;

    // True only when the URL is https, the server answered 200, its whole body is in the file at
    // `path` and no cancel came; otherwise the file is deleted (its folder stays).
    bool downloadFile(const std::wstring& url, const std::wstring& path);

    // Set to abort a running download at its next chunk; never cleared.
    std::atomic<bool> cancel_downloading { false };
    // Set from the start of downloadFile until it returns, on every path.
    std::atomic<bool> downloading { false };
};
