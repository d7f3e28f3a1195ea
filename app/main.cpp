// Program entry: the pre-flight checks, the log, game detection and the wizard.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <clocale>
#include <string>

#include "app/command_line.h"
#include "app/install_log.h"
#include "app/preflight.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/uninstall.h"
#include "app/version_file.h"
#include "mods/download/download_worker.h"
#include "mods/journal.h"
#include "wizard/wizard.h"

static void ShowStartupError(const wchar_t* text)
{
    MessageBoxW(nullptr, text, nullptr, MB_ICONERROR | MB_OK);
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

static void ShowSwitchHelp(const std::wstring& before)
{
    wchar_t caption[256];
    wsprintfW(caption, L"%s セットアップ", ProductName);
    MessageBoxW(nullptr, (before + SwitchHelp).c_str(), caption,
                (before.empty() ? MB_ICONINFORMATION : MB_ICONERROR) | MB_OK);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    LimitDllSearchToSystem();

    Switches switches;
    std::wstring problem;
    bool parsed = ParseSwitches(ProgramArguments(), switches, problem);
    if (parsed && switches.help) {
        ShowSwitchHelp(L"");
        return 0;
    }
    if (parsed && switches.uninstall) return RunUninstall(instance, switches);
    if (switches.silent) return RunUnattended(switches, parsed, problem);
    if (!parsed) {
        ShowSwitchHelp(L"コマンドラインのオプションが正しくありません。\n\n");
        return ExitCouldNotStart;
    }

    if (IsGameClientRunning()) {
        ShowStartupError(L"Steelmarchが起動しているためインストールを開始できません。");
        return 0;
    }
    if (!HasInternetConnection()) {
        ShowStartupError(L"インターネットに接続されていません。");
        return 0;
    }

    OpenInstallLogFor(switches);
    StartReplaceJournal();
    setlocale(LC_ALL, "ja_JP.UTF-8");
    if (switches.folder.empty()) {
        VersionFileReader();
        GateDetectedVersion();
    } else {
        UseFolderFromCommandLine(switches.folder);
    }
    if (switches.modsGiven) UseModsFromCommandLine(switches);

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
