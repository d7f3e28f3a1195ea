// Program entry: the pre-flight checks, the log, game detection and the wizard.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <clocale>
#include <string>

#include "app/install_log.h"
#include "app/preflight.h"
#include "app/state.h"
#include "app/version_file.h"
#include "mods/download_worker.h"
#include "mods/file_replace.h"
#include "wizard/wizard.h"

static void ShowStartupError(const wchar_t* text)
{
    MessageBoxW(nullptr, text, nullptr, MB_ICONERROR | MB_OK);
}

// A file of the temporary folder, or nothing when the path would not fit.
static std::wstring InTempFolder(const wchar_t* name)
{
    wchar_t temp[256];
    DWORD length = GetTempPathW(256, temp);
    if (length == 0 || length + lstrlenW(name) >= 256) return std::wstring();
    return std::wstring(temp) + name;
}

static void OpenLogInTempFolder()
{
    std::wstring log = InTempFolder(L"installer.log");
    if (!log.empty()) OpenInstallLog(log.c_str());
}

// A run that was killed may have left temporary files beside game files.
static void StartReplaceJournal()
{
    std::wstring journal = InTempFolder(L"installer.journal");
    if (journal.empty()) return;
    RemoveLeftoversOfEarlierRun(journal, CatalogueDownloadPaths());
    UseReplaceJournal(journal);
}

static void GateDetectedVersion()
{
    if (GameVersion.empty()) {
        ShowStartupError(L"Steelmarchを検出できませんでした。\n"
                         L"手動でインストール先を指定してください。");
    } else if (!IsRequiredGameVersion(GameVersion)) {
        GameFolder[0] = L'\0';
        GameVersion.clear();
        ShowStartupError(L"バージョン1.8.0.1を検出できませんでした。\n"
                         L"手動でインストール先を指定してください。");
    }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    LimitDllSearchToSystem();

    if (IsGameClientRunning()) {
        ShowStartupError(L"Steelmarchが起動しているためインストールを開始できません。");
        return 0;
    }
    if (!HasInternetConnection()) {
        ShowStartupError(L"インターネットに接続されていません。");
        return 0;
    }

    OpenLogInTempFolder();
    StartReplaceJournal();
    setlocale(LC_ALL, "ja_JP.UTF-8");
    VersionFileReader();
    GateDetectedVersion();

    // The folder chooser needs COM; the tree and progress controls need their classes.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    RunInstallerWizard(instance);

    DeleteDownloadedFiles();
    EndReplaceJournal();
    CloseInstallLog();
    CoUninitialize();
    return 0;
}
