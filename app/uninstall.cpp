#include "app/uninstall.h"

#include <clocale>
#include <cwchar>
#include <string>

#include "app/folder_access.h"
#include "app/install_log.h"
#include "app/long_path.h"
#include "app/preflight.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/uninstall_window.h"
#include "app/version_file.h"
#include "mods/files_in_use.h"
#include "mods/record/install_record.h"
#include "mods/record/uninstaller.h"

namespace {

const wchar_t QuestionCaption[] = L"セットアップ";
// The uninstall started from the record folder tells its copy which process that is;
// a finisher started by the copy waits for that process to end.
const wchar_t ParentVariable[] = L"ZELKORSMODSPACK_UNINSTALL_PARENT";
const wchar_t FinishVariable[] = L"ZELKORSMODSPACK_FINISH_AFTER";
// How many kept files the closing message names; the log names them all.
constexpr size_t NamedFilesAtMost = 10;

// The copy Apps & Features starts lives in the record folder it is about to remove.
bool RunsFromARecordFolder()
{
    std::wstring self = RunningProgramPath();
    size_t slash = self.rfind(L'\\');
    if (slash == std::wstring::npos || slash == 0) return false;
    size_t parent = self.rfind(L'\\', slash - 1);
    std::wstring folder = self.substr(parent == std::wstring::npos ? 0 : parent + 1,
                                      slash - (parent == std::wstring::npos ? 0 : parent + 1));
    return CompareStringOrdinal(folder.c_str(), -1, RecordFolderName, -1, TRUE) == CSTR_EQUAL;
}

// Runs the same command from a copy in the temporary folder and waits for it, so that
// the copy in the record folder can be moved away. The copy is in a job that ends with
// this process: whoever stops this uninstall stops it whole.
bool RunFromTemporaryCopy(int& exitCode)
{
    std::wstring temp = TemporaryFolder();
    if (temp.empty()) return false;
    std::wstring copy = temp + L"ZelkorsModsPackUninstall-" + std::to_wstring(GetCurrentProcessId())
                      + L".exe";
    if (!CopyFileW(SystemPath(RunningProgramPath()).c_str(), SystemPath(copy).c_str(), FALSE))
        return false;
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetEnvironmentVariableW(ParentVariable, std::to_wstring(GetCurrentProcessId()).c_str());
    if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    std::wstring command = GetCommandLineW();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(copy.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        if (job) CloseHandle(job);
        DeleteFileW(SystemPath(copy).c_str());
        return false;
    }
    if (job) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = ExitCouldNotStart;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job) CloseHandle(job);
    DeleteFileW(SystemPath(copy).c_str());
    exitCode = (int)code;
    return true;
}

DWORD ProcessIdIn(const wchar_t* variable)
{
    wchar_t value[32];
    DWORD length = GetEnvironmentVariableW(variable, value, 32);
    return length > 0 && length < 32 ? (DWORD)wcstoul(value, nullptr, 10) : 0;
}

// The copy the record folder holds runs as long as the uninstall Apps & Features
// started, and where it cannot be moved away it can only be removed after: by a
// process of its own, outside the job that ends with that uninstall.
bool StartFinisher(const std::wstring&)
{
    DWORD parent = ProcessIdIn(ParentVariable);
    if (!parent) return false;
    SetEnvironmentVariableW(FinishVariable, std::to_wstring(parent).c_str());
    std::wstring command = GetCommandLineW();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    bool started = CreateProcessW(RunningProgramPath().c_str(), &command[0], nullptr, nullptr, FALSE,
                                  CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &startup, &process)
                != FALSE;
    SetEnvironmentVariableW(FinishVariable, nullptr);
    if (!started) return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The finisher: once the uninstall that started the copy has ended, its copy, the
// record folder and the entry go.
int FinishAfterParent(DWORD parent, const std::wstring& gameFolder)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, parent);
    if (process) {
        WaitForSingleObject(process, 60000);
        CloseHandle(process);
    }
    FinishRemovedRecord(gameFolder);
    return ExitInstalled;
}

std::wstring AbsoluteFolder(const std::wstring& folder)
{
    std::wstring path = FullPathOf(folder);
    if (path.empty()) path = folder;
    if (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// /DIR, else the game folder found as at start-up, else the default one.
std::wstring FolderToUninstall(const Switches& switches)
{
    if (!switches.folder.empty()) return AbsoluteFolder(switches.folder);
    VersionFileReader();
    return GameFolder[0] ? std::wstring(GameFolder) : std::wstring(DefaultGameFolder);
}

struct Run {
    std::wstring gameFolder;
    UninstallCounters progress;
    UninstallSummary summary;
};

DWORD WINAPI UninstallThread(LPVOID parameter)
{
    Run& run = *static_cast<Run*>(parameter);
    UninstallPack(run.gameFolder, run.progress, run.summary);
    return 0;
}

int ExitCodeOf(const UninstallSummary& summary)
{
    bool whole = summary.finished && summary.kept == 0 && summary.left == 0 && summary.refused == 0;
    return whole ? ExitInstalled : ExitModFailed;
}

void LogSummary(const UninstallSummary& s)
{
    LogWrite(L"Uninstalled: %d removed, %d originals restored, %d kept, %d left, %d refused\n",
             s.removed, s.restored, s.kept, s.left, s.refused);
}

std::wstring Question(const std::wstring& gameFolder, const InstallRecord& record)
{
    int files = 0, originals = 0;
    CountUndoWork(record, files, originals);
    return std::wstring(ProductName) + L" を次のフォルダからアンインストールしますか？\n" + gameFolder
         + L"\n\nインストールしたファイル " + std::to_wstring(files) + L" 個を削除し、元のファイル "
         + std::to_wstring(originals) + L" 個を元に戻します。変更されたファイルは残します。";
}

std::wstring ClosingMessage(const UninstallSummary& s)
{
    std::wstring text = s.finished ? L"アンインストールが完了しました。"
                                   : L"アンインストールは一部のファイルを残して終わりました。";
    text += L"\n\n削除したファイル: " + std::to_wstring(s.removed) + L" 個\n元に戻したファイル: "
          + std::to_wstring(s.restored) + L" 個";
    if (!s.keptFiles.empty()) {
        text += s.missing ? L"\n\n次のファイルは残しました:"
                          : L"\n\nインストール後に変更されたか使用中のため、次のファイルは残しました:";
        for (size_t i = 0; i < s.keptFiles.size() && i < NamedFilesAtMost; ++i)
            text += L"\n" + s.keptFiles[i];
        if (s.keptFiles.size() > NamedFilesAtMost)
            text += L"\nほか " + std::to_wstring(s.keptFiles.size() - NamedFilesAtMost) + L" 個";
    }
    if (s.left > s.missing)
        text += L"\n\n使用中のファイルは、もう一度アンインストールすると削除されます。";
    if (s.missing > 0)
        text += L"\n\n元のファイルがバックアップに見つからなかったファイルは、MODのファイルのまま残しました。";
    return text;
}

// Files another program still holds after the wait: the user may close it and try again.
bool AskToRetryUninstall(const UninstallSummary& summary)
{
    std::wstring text = L"次のファイルが他のプログラムで使用されているため、削除できません:\n\n"
                      + HeldFilesList(summary.inUseFiles, ProgramsHolding(summary.inUseFiles))
                      + L"\nこれらのファイルを使っているプログラムを閉じてから［再試行］を押してください。\n"
                        L"［キャンセル］を押すと、これらのファイルを残してアンインストールを終えます"
                        L"（もう一度アンインストールすると削除されます）。";
    return MessageBoxW(nullptr, text.c_str(), QuestionCaption, MB_RETRYCANCEL | MB_ICONWARNING)
        == IDRETRY;
}

// The uninstall behind its progress window, and again for as long as the user closes what
// held files and asks to retry; what the earlier passes removed and restored counts too.
void UninstallAsked(HINSTANCE instance, Run& run)
{
    RunBehindProgressWindow(instance, run.progress, UninstallThread, &run);
    while (!run.summary.inUseFiles.empty() && AskToRetryUninstall(run.summary)) {
        UninstallSummary done = run.summary;
        run.summary = UninstallSummary();
        run.progress.filesDone = 0;
        run.progress.filesTotal = 0;
        RunBehindProgressWindow(instance, run.progress, UninstallThread, &run);
        run.summary.removed += done.removed;
        run.summary.restored += done.restored;
    }
}

int CouldNotStart(const std::wstring& reason)
{
    LogWrite(L"Could not start: %ls\n", reason.c_str());
    return ExitCouldNotStart;
}

// Nothing is touched in a folder that cannot be written, where every step would fail.
bool FolderWritable(const std::wstring& gameFolder, bool silent)
{
    std::string version;
    std::wstring failed, reason;
    ReadVersionFile(gameFolder.c_str(), version);
    if (!PathExists(gameFolder)
        || CanWriteGameFolder(gameFolder, version, failed, reason))
        return true;
    if (!silent)
        MessageBoxW(nullptr, (L"このフォルダーに書き込めないため、アンインストールできません。\n" + failed
                              + L"\n\nアンインストーラーを「管理者として実行」で起動し直してください。")
                                 .c_str(),
                    nullptr, MB_ICONERROR | MB_OK);
    CouldNotStart(failed + L" - the folder cannot be written (" + reason + L")");
    return false;
}

int Uninstall(HINSTANCE instance, const Switches& switches)
{
    bool silent = switches.silent;
    if (IsGameClientRunning()) {
        if (!silent) {
            MessageBoxW(nullptr, L"Steelmarchが起動しているためアンインストールを開始できません。",
                        nullptr, MB_ICONERROR | MB_OK);
            return ExitCouldNotStart;
        }
        if (!OpenInstallLogFor(switches)) return ExitCouldNotStart;
        return CouldNotStart(L"Steelmarch is running");
    }
    if (!OpenInstallLogFor(switches) && silent) return ExitCouldNotStart;
    Run run;
    run.gameFolder = FolderToUninstall(switches);
    LogWrite(L"Uninstalling: %ls\n", run.gameFolder.c_str());
    if (!FolderWritable(run.gameFolder, silent)) return ExitCouldNotStart;
    // A killed install's temporary files go first: they may sit in folders it made.
    bool tidied = RemoveWhatAKilledRunLeft() > 0;
    InstallRecord record;
    if (!LoadRecord(run.gameFolder, record)) {
        // Never taken for no record: what it describes would be lost with the backups.
        if (RecordExists(run.gameFolder))
            return CouldNotStart(RecordFileOf(run.gameFolder) + L" - the record cannot be read");
        // A run killed at its very end leaves only the entry or an empty record folder.
        if (FinishRemovedRecord(run.gameFolder) || tidied) return ExitInstalled;
        if (!silent)
            MessageBoxW(nullptr, (L"アンインストールするものがありません。\n" + run.gameFolder
                                  + L" に " + ProductName + L" はインストールされていません。")
                                     .c_str(),
                        nullptr, MB_ICONERROR | MB_OK);
        return CouldNotStart(run.gameFolder + L" - there is nothing to uninstall there");
    }
    if (!silent && MessageBoxW(nullptr, Question(run.gameFolder, record).c_str(), QuestionCaption,
                               MB_ICONQUESTION | MB_YESNO)
                       != IDYES)
        return CouldNotStart(L"the user answered No");
    if (silent)
        UninstallThread(&run);
    else
        UninstallAsked(instance, run);
    LogSummary(run.summary);
    if (!silent)
        MessageBoxW(nullptr, ClosingMessage(run.summary).c_str(), QuestionCaption,
                    (ExitCodeOf(run.summary) == ExitInstalled ? MB_ICONINFORMATION : MB_ICONWARNING)
                        | MB_OK);
    return ExitCodeOf(run.summary);
}

}  // namespace

int RunUninstall(HINSTANCE instance, const Switches& switches)
{
    if (DWORD parent = ProcessIdIn(FinishVariable))
        return FinishAfterParent(parent, FolderToUninstall(switches));
    int code = ExitCouldNotStart;
    if (RunsFromARecordFolder() && RunFromTemporaryCopy(code)) return code;
    ClearMovedUninstallers();
    FinishAfterCopyEnds = StartFinisher;
    setlocale(LC_ALL, "ja_JP.UTF-8");
    code = Uninstall(instance, switches);
    CloseInstallLog();
    return code;
}
