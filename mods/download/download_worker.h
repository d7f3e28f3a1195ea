#pragma once
// The thread that fetches every selected catalogue row into the temporary folder.
#include <windows.h>
#include <string>
#include <vector>

#include "mods/download/http_download.h"

// Shared with the download page, without a lock: each counter is one 32-bit word
// with one writing thread. The page alone writes cancelRequested.
struct DownloadCounters {
    Counter filesDone{0};
    ByteCounter bytesReceived{0};
    ByteCounter bytesTotal{0};
    Counter cancelRequested{0};
};
extern DownloadCounters DownloadProgress;

struct DownloadedFile {
    std::wstring path;
    bool isArchive;
    int row = 0;  // in the catalogue
    bool deleted = false;
    // A package's bytes as they arrived, hashed on the way for the install record.
    std::string sha256{};
    unsigned long long size = 0;
};
// Appended by the download worker in catalogue order, one entry per row that
// arrived whole; read by the install worker once the download worker has ended.
extern std::vector<DownloadedFile> DownloadedFiles;

// Logs "Delete:" and deletes each downloaded file, once per run: the install worker
// does it when it is done, and the run's last page for a run that never got there.
void DeleteDownloadedFiles();

// Thread entry; the argument is a DownloadCounters*. Exit code 1 whatever happened.
DWORD WINAPI DownloadWorker(LPVOID counters);

// The temporary folder followed by the file name; false when the system names no
// temporary folder.
bool TempFilePath(const wchar_t* fileName, std::wstring& path);

// Where each catalogue row's download goes, whether it is selected or not.
std::vector<std::wstring> CatalogueDownloadPaths();
