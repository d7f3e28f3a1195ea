#include "app/startup.h"

#include <windows.h>
#include <clocale>

#include "app/folder_access.h"
#include "app/install_log.h"
#include "app/long_path.h"
#include "app/preflight.h"
#include "app/state.h"
#include "app/version_file.h"
#include "mods/catalog.h"
#include "mods/download/download_worker.h"
#include "mods/install/install_progress.h"
#include "mods/install/install_worker.h"
#include "mods/journal.h"
#include "wizard/wizard.h"

namespace {

// A file of the temporary folder, or nothing when the system names no such folder.
std::wstring InTempFolder(const wchar_t* name)
{
    std::wstring temp = TemporaryFolder();
    return temp.empty() ? temp : temp + name;
}

std::wstring AbsolutePath(const std::wstring& path)
{
    std::wstring full = FullPathOf(path);
    return full.empty() ? path : full;
}

int CouldNotStart(const std::wstring& reason)
{
    LogWrite(L"Could not start: %ls\n", reason.c_str());
    return ExitCouldNotStart;
}

// The folder an unattended run installs into: /DIR, else the detected one; either
// must hold the supported version. False, with the reason logged, otherwise.
bool SettleGameFolder(const Switches& switches)
{
    std::wstring folder = switches.folder.empty() ? std::wstring() : AbsolutePath(switches.folder);
    if (folder.empty()) {
        VersionFileReader();
        if (GameVersion.empty()) {
            CouldNotStart(L"no game folder was found; name it with /DIR");
            return false;
        }
        folder = GameFolder;
    }
    std::string version;
    if (!ReadVersionFile(folder.c_str(), version)) {
        CouldNotStart(folder + L" - no readable version.xml of the game there");
        return false;
    }
    if (!IsRequiredGameVersion(version)) {
        CouldNotStart(folder + L" - the game is version " + std::wstring(version.begin(), version.end())
                      + L"; " + std::wstring(RequiredGameVersion, RequiredGameVersion + 7)
                      + L" is needed");
        return false;
    }
    if (!VersionFileReader(folder.c_str())) {
        CouldNotStart(folder + L" - the path is too long");
        return false;
    }
    return GameFolderWritable();
}

}  // namespace

bool GameFolderWritable()
{
    std::wstring folder, reason;
    if (CanWriteGameFolder(GameFolder, GameVersion, folder, reason)) return true;
    CouldNotStart(folder + L" - the folder cannot be written (" + reason + L")");
    return false;
}

bool OpenInstallLogFor(const Switches& switches)
{
    std::wstring log = switches.logPath.empty() ? InTempFolder(L"installer.log")
                                                : AbsolutePath(switches.logPath);
    return !log.empty() && OpenInstallLog(log.c_str());
}

void ClearMovedUninstallers()
{
    std::wstring temp = TemporaryFolder();
    for (const wchar_t* pattern : {L"zmu*.tmp", L"ZelkorsModsPackUninstall-*.exe"}) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(SystemPath(temp + pattern).c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            DeleteFileW(SystemPath(temp + found.cFileName).c_str());  // fails while it runs
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
}

int RemoveWhatAKilledRunLeft()
{
    std::wstring journal = InTempFolder(L"installer.journal");
    return journal.empty() ? 0 : RemoveLeftoversOfEarlierRun(journal, CatalogueDownloadPaths());
}

void StartReplaceJournal()
{
    ClearMovedUninstallers();
    RemoveWhatAKilledRunLeft();
    std::wstring journal = InTempFolder(L"installer.journal");
    if (!journal.empty()) UseReplaceJournal(journal);
}

void UseFolderFromCommandLine(const std::wstring& folder)
{
    std::wstring full = AbsolutePath(folder);
    GameFolderFromCommandLine = true;
    if (VersionFileReader(full.c_str()) && IsRequiredGameVersion(GameVersion)) return;
    GameVersion.clear();
    lstrcpynW(GameFolder, full.c_str(), GameFolderChars);
}

void UseModsFromCommandLine(const Switches& switches)
{
    for (int row = 0; row < ModCount; ++row) ModCatalog[row].selected = switches.mods[row];
}

int RunUnattended(const Switches& switches, bool parsed, const std::wstring& problem)
{
    // The log comes first: every reason not to start is written to it.
    if (!OpenInstallLogFor(switches)) return ExitCouldNotStart;
    setlocale(LC_ALL, "ja_JP.UTF-8");
    int code = ExitCouldNotStart;
    if (!parsed) {
        CouldNotStart(problem);
    } else if (IsGameClientRunning()) {
        CouldNotStart(L"Steelmarch is running");
    } else if (!HasInternetConnection()) {
        CouldNotStart(L"there is no Internet connection");
    } else {
        StartReplaceJournal();
        if (SettleGameFolder(switches)) {
            for (int row = 0; row < ModCount; ++row)
                ModCatalog[row].selected = !switches.modsGiven || switches.mods[row];
            DownloadWorker(&DownloadProgress);
            InstallWorker(&InstallProgress);
            DeleteDownloadedFiles();
            code = EverythingInstalled(SelectedModCount(), DownloadedFiles.size(),
                                       InstallProgress.failures)
                 ? ExitInstalled
                 : ExitModFailed;
        }
        EndReplaceJournal();
    }
    CloseInstallLog();
    return code;
}
