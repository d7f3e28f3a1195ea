// The folder page: the game folder found at start-up, a folder chooser, and Next
// only for a folder whose version.xml names the supported client.
#include <windows.h>
#include <prsht.h>
#include <shlobj.h>

#include "app/folder_access.h"
#include "app/state.h"
#include "app/version_file.h"
#include "resources/resource.h"
#include "wizard/page_common.h"
#include "wizard/wizard.h"

namespace {

// Room for the longest Win32 path plus the separator the page appends; a text too
// long for GameFolder is refused by the reader rather than cut.
constexpr int WorkingChars = MAX_PATH + 2;
constexpr int TypedChars = 1024;

void ShowFolderError(HWND page, const wchar_t* text)
{
    MessageBoxW(page, text, nullptr, MB_ICONERROR | MB_OK);
}

void ShowInvalidFolder(HWND page)
{
    ShowFolderError(page, L"有効なSteelmarchがインストールされたフォルダを指定してください。");
}

void ShowFolderAndVersion(HWND page, const wchar_t* folder)
{
    wchar_t text[WorkingChars];
    lstrcpynW(text, folder, MAX_PATH + 1);
    int length = lstrlenW(text);
    if (length == 0 || text[length - 1] != L'\\') lstrcatW(text, L"\\");
    SetDlgItemTextW(page, IDC_FOLDER_EDIT, text);
    SetDlgItemTextA(page, IDC_FOLDER_VERSION, GameVersion.c_str());
}

void OnFolderInit(HWND page)
{
    if (!GameVersion.empty() || GameFolderFromCommandLine) ShowFolderAndVersion(page, GameFolder);
}

int CALLBACK ChooserCallback(HWND chooser, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED) SendMessageW(chooser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

// The chooser opens on the folder currently typed; true with its path when the
// user picked a file-system folder.
bool ChooseFolder(HWND page, wchar_t (&path)[WorkingChars])
{
    GetDlgItemTextW(page, IDC_FOLDER_EDIT, path, MAX_PATH);
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator))) return false;

    BROWSEINFOW browse = {};
    browse.hwndOwner = page;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = path;
    browse.lpszTitle = L"フォルダを選択してください";
    browse.ulFlags = 0;
    browse.lpfn = ChooserCallback;
    browse.lParam = (LPARAM)path;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
    if (item) {
        // A virtual folder has no path: leave nothing that could be read as one.
        if (!SHGetPathFromIDListW(item, path)) path[0] = L'\0';
        allocator->Free(item);
    }
    allocator->Release();
    return item != nullptr;
}

void OnBrowse(HWND page)
{
    wchar_t path[WorkingChars];
    if (!ChooseFolder(page, path)) return;
    if (!VersionFileReader(path)) {
        ShowInvalidFolder(page);
        return;
    }
    ShowFolderAndVersion(page, path);
}

void OnFolderNext(HWND page)
{
    wchar_t typed[TypedChars];
    std::wstring failed, reason;
    GetDlgItemTextW(page, IDC_FOLDER_EDIT, typed, TypedChars);
    if (!VersionFileReader(typed)) {
        ShowInvalidFolder(page);
        SetPageResult(page, StayOnPage);
    } else if (!IsRequiredGameVersion(GameVersion)) {
        ShowFolderError(page, L"バージョンが違います。");
        SetPageResult(page, StayOnPage);
    } else if (!CanWriteGameFolder(GameFolder, GameVersion, failed, reason)) {
        // Found now, not file by file once every mod has been downloaded.
        ShowFolderError(page, (L"このフォルダーには書き込めません。\n" + failed
                               + L"\n\n別のフォルダーを選択するか、インストーラーを右クリックして"
                                 L"「管理者として実行」で起動し直してください。")
                                  .c_str());
        SetPageResult(page, StayOnPage);
    }
}

void OnFolderNotify(HWND page, const NMHDR* header)
{
    switch (header->code) {
    case PSN_SETACTIVE:
        SetWizardButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
        break;
    case PSN_WIZNEXT:
        OnFolderNext(page);
        break;
    case PSN_QUERYCANCEL:
        AskCancelSetup(page);
        break;
    }
}

}  // namespace

INT_PTR CALLBACK FolderPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnFolderInit(page);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_FOLDER_BROWSE) OnBrowse(page);
        return FALSE;
    case WM_NOTIFY:
        OnFolderNotify(page, (const NMHDR*)lParam);
        return TRUE;
    }
    return FALSE;
}
