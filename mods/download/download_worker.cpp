#include "mods/download/download_worker.h"

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/catalog.h"
#include "mods/journal.h"
#include "mods/mod_outcome.h"

DownloadCounters DownloadProgress;
std::vector<DownloadedFile> DownloadedFiles;

void DeleteDownloadedFiles()
{
    for (DownloadedFile& file : DownloadedFiles) {
        if (file.deleted) continue;
        LogWrite(L"Delete: %ls\n", file.path.c_str());
        DeleteFileW(SystemPath(file.path).c_str());
        file.deleted = true;
    }
}

bool TempFilePath(const wchar_t* fileName, std::wstring& path)
{
    std::wstring temp = TemporaryFolder();
    path = temp + fileName;
    return !temp.empty();
}

static void NoteDownloadOutcome(int row, bool fetched, const DownloadReport& report)
{
    ModOutcome& outcome = ModOutcomes[row];
    if (fetched) {
        outcome.stage = ModStage::Downloaded;
    } else if (report.failure == DownloadFailure::Cancelled) {
        outcome.stage = ModStage::NotReached;
    } else {
        outcome.stage = ModStage::DownloadFailed;
        outcome.failure = report.failure;
        outcome.httpStatus = report.httpStatus;
    }
}

static void DownloadRow(int row, DownloadCounters& progress)
{
    const ModEntry& mod = ModCatalog[row];
    std::wstring path;
    bool fits = TempFilePath(mod.fileName, path);
    progress.bytesReceived = 0;
    progress.bytesTotal = 0;
    LogWrite(L"Downloading: %ls - ", path.c_str());
    if (fits) NoteDownloadInJournal(path);
    DownloadReport report;
    if (!fits) {
        report.failure = DownloadFailure::LocalFile;
        report.notes.push_back(L"Failed: " + path + L" - the temporary folder cannot be found");
    }
    // A package is moved into place whole, so its record's hash can be taken now, while
    // the bytes arrive; an archive's files are hashed one by one as they are written.
    bool fetched = fits && HttpDownloadToFile(mod.url, path.c_str(), progress.bytesReceived,
                                              progress.bytesTotal, progress.cancelRequested,
                                              mod.sha256, &report, !mod.isArchive);
    if (fetched)
        DownloadedFiles.push_back(
            {path, mod.isArchive, row, false, report.sha256, progress.bytesReceived.load()});
    NoteDownloadOutcome(row, fetched, report);
    LogWrite(fetched ? L"Done!\n" : L"Failed\n");
    // Retries and mismatches on lines of their own, after the row's one line.
    for (const std::wstring& note : report.notes) LogWrite(L"%ls\n", note.c_str());
}

DWORD WINAPI DownloadWorker(LPVOID counters)
{
    DownloadCounters& progress = *static_cast<DownloadCounters*>(counters);
    progress.filesDone = 0;
    for (int row = 0; row < ModCount; ++row) {
        if (!ModCatalog[row].selected) continue;
        DownloadRow(row, progress);
        progress.filesDone.fetch_add(1);
    }
    return 1;
}

std::vector<std::wstring> CatalogueDownloadPaths()
{
    std::vector<std::wstring> paths;
    for (const ModEntry& mod : ModCatalog) {
        std::wstring path;
        if (TempFilePath(mod.fileName, path)) paths.push_back(path);
    }
    return paths;
}
