// The page of a run that ended well: Finish only.
#include <windows.h>
#include <prsht.h>

#include "mods/download/download_worker.h"
#include "resources/resource.h"
#include "wizard/page_common.h"
#include "wizard/scaled_art.h"
#include "wizard/wizard.h"

void ShowAsLastPage(HWND page)
{
    // Whatever ended the run, no download is left in the temporary folder.
    DeleteDownloadedFiles();
    HWND wizard = GetParent(page);
    PostMessageW(wizard, PSM_CANCELTOCLOSE, 0, 0);
    SendMessageW(wizard, PSM_SETFINISHTEXTW, 0, (LPARAM)L"完了(&F)");
    ShowWindow(GetDlgItem(wizard, IDCANCEL), SW_HIDE);
    // A page that moved on by itself leaves the focus on a button now hidden.
    FocusSheetButton(page, FinishButtonId);
    RepaintAfterActivation(page);
}

INT_PTR CALLBACK FinishedPage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetTitleFont(page, IDC_FINISH_HEADING);
        return TRUE;
    case WM_NOTIFY:
        if (((const NMHDR*)lParam)->code == PSN_SETACTIVE) ShowAsLastPage(page);
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
