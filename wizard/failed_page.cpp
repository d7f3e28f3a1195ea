// The page of a run that did not end well: what became of each ticked mod, a button
// that opens the install log, and Finish.
#include <windows.h>
#include <prsht.h>
#include <shellapi.h>

#include <string>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/catalog.h"
#include "mods/mod_outcome.h"
#include "resources/resource.h"
#include "wizard/page_common.h"
#include "wizard/scaled_art.h"
#include "wizard/wizard.h"

namespace {

const wchar_t* FailureReason(const ModOutcome& outcome, wchar_t (&status)[32])
{
    switch (outcome.failure) {
    case DownloadFailure::HttpStatus:
        wsprintfW(status, L"HTTP %lu", outcome.httpStatus);
        return status;
    case DownloadFailure::NameNotResolved: return L"サーバーが見つかりません";
    case DownloadFailure::CouldNotConnect: return L"接続できません";
    case DownloadFailure::TimedOut: return L"タイムアウト";
    case DownloadFailure::ConnectionCut:
    case DownloadFailure::CutShort: return L"途中で切断されました";
    case DownloadFailure::Untrusted: return L"証明書の発行元を信頼できません";
    case DownloadFailure::CertificateOtherHost: return L"証明書が別のサーバーのものです";
    case DownloadFailure::CertificateDate:
        return L"証明書の有効期限外です。パソコンの日付と時刻を確認してください";
    case DownloadFailure::CertificateRevoked: return L"証明書が失効しています";
    case DownloadFailure::CertificateInvalid: return L"証明書が正しくありません";
    case DownloadFailure::Downgraded: return L"http へ転送されました";
    case DownloadFailure::InvalidAnswer: return L"サーバーの応答が不正です";
    case DownloadFailure::HashMismatch: return L"ファイルの内容が一致しません";
    case DownloadFailure::LocalFile: return L"一時ファイルを書き込めません";
    case DownloadFailure::DiskFull: return L"ディスクの空き容量が不足しています";
    case DownloadFailure::WebPage: return L"ファイルではなくウェブページが返されました";
    default: return L"不明なエラー";
    }
}

const wchar_t* InstallFailureReason(InstallFailure failure)
{
    switch (failure) {
    case InstallFailure::InUse: return L"ファイルが他のプログラムで使用中です";
    case InstallFailure::Refused: return L"ゲームフォルダーに置けない名前のファイルがあります";
    case InstallFailure::Unreadable: return L"アーカイブを読み込めません";
    case InstallFailure::DamagedData: return L"アーカイブのデータが壊れています";
    case InstallFailure::WriteFailed: return L"ファイルを書き込めません";
    case InstallFailure::NotReplaced: return L"ファイルを置き換えられません";
    default: return nullptr;
    }
}

std::wstring FileNameIn(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A mod kept out whole, or taken back out: not installed, why, and the file that was
// the cause (and how many more were held).
std::wstring NotInstalledText(const ModOutcome& outcome, const wchar_t* reason)
{
    std::wstring text = std::wstring(L"未インストール（") + reason;
    if (!outcome.failedFile.empty()) text += L": " + FileNameIn(outcome.failedFile);
    if (outcome.installFailure == InstallFailure::InUse && outcome.filesFailed > 1)
        text += L" ほか " + std::to_wstring(outcome.filesFailed - 1) + L" 個";
    return text + L"）";
}

std::wstring OutcomeText(const ModOutcome& outcome)
{
    wchar_t text[160];
    wchar_t status[32];
    switch (outcome.stage) {
    case ModStage::Installed:
        return L"インストール完了";
    case ModStage::DownloadFailed:
        wsprintfW(text, L"ダウンロード失敗（%s）", FailureReason(outcome, status));
        return text;
    case ModStage::InstallFailed:
        if (outcome.diskFull) return L"インストール失敗（ディスクの空き容量が不足しています）";
        if (const wchar_t* reason = InstallFailureReason(outcome.installFailure))
            return NotInstalledText(outcome, reason);
        if (outcome.filesFailed <= 0) return L"インストール失敗";
        wsprintfW(text, L"インストール失敗（%d 個のファイル）", outcome.filesFailed);
        return text;
    default:
        return SetupCancelled ? L"キャンセルのため未インストール" : L"未インストール";
    }
}

bool LogFileExists()
{
    const wchar_t* path = InstallLogPath();
    return path[0] && PathExists(path);
}

// Notepad when no program is registered for the log's type, as under a bare Wine.
void OpenLog(HWND page)
{
    const wchar_t* path = InstallLogPath();
    if ((INT_PTR)ShellExecuteW(page, L"open", path, nullptr, nullptr, SW_SHOWNORMAL) > 32) return;
    std::wstring quoted = L"\"" + std::wstring(path) + L"\"";
    ShellExecuteW(page, L"open", L"notepad.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL);
}

void OnFailedActive(HWND page)
{
    ShowAsLastPage(page);
    std::wstring text;
    for (const std::wstring& line : OutcomeLines()) text += (text.empty() ? L"" : L"\r\n") + line;
    SetDlgItemTextW(page, IDC_FAILED_OUTCOME, text.c_str());
    EnableWindow(GetDlgItem(page, IDC_OPEN_LOG), LogFileExists());
}

}  // namespace

std::vector<std::wstring> OutcomeLines()
{
    std::vector<std::wstring> lines;
    if (SetupCancelled) lines.push_back(L"インストールはキャンセルされました。");
    for (int row = 0; row < ModCount; ++row) {
        if (!ModCatalog[row].selected) continue;
        lines.push_back(std::wstring(ModCatalog[row].displayName) + L": "
                        + OutcomeText(ModOutcomes[row]));
    }
    return lines;
}

INT_PTR CALLBACK FailedPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetTitleFont(page, IDC_FINISH_HEADING);
        return TRUE;
    case WM_NOTIFY:
        if (((const NMHDR*)lParam)->code == PSN_SETACTIVE) OnFailedActive(page);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_OPEN_LOG && HIWORD(wParam) == BN_CLICKED) OpenLog(page);
        return TRUE;
    case WM_PAINT:
        return PaintExteriorPicture(page);
    case WM_REPAINT_SHEET:
        RepaintSheet(page);
        return TRUE;
    case WM_DESTROY:
        ReleaseTitleFont(page);
        return FALSE;
    }
    return FALSE;
}
