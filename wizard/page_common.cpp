#include "wizard/page_common.h"

#include "mods/mod_outcome.h"
#include "mods/worker_pause.h"
#include "resources/resource.h"
#include "wizard/answer_at_once.h"
#include "wizard/scaled_art.h"

void SetPageResult(HWND page, LONG_PTR result)
{
    SetWindowLongPtrW(page, DWLP_MSGRESULT, result);
}

void SetWizardButtons(HWND page, DWORD buttons)
{
    PostMessageW(GetParent(page), PSM_SETWIZBUTTONS, 0, buttons);
}

void JumpToFailedPage(HWND page)
{
    SendMessageW(GetParent(page), PSM_SETCURSELID, 0, IDD_FAILED);
}

void FocusSheetButton(HWND page, int buttonId)
{
    HWND sheet = GetParent(page);
    PostMessageW(sheet, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(sheet, buttonId), TRUE);
}

void AskCancelSetup(HWND page)
{
    int answer = MessageBoxW(page,
                             L"セットアップが完了していません。\n終了してもよろしいですか？",
                             L"セットアップ", MB_ICONQUESTION | MB_YESNO);
    if (answer == IDYES) {
        SetupCancelled = true;
        JumpToFailedPage(page);
    }
    SetPageResult(page, StayOnPage);
}

bool AskWhileWorkerHeld(HWND page, const wchar_t* question)
{
    PauseWorkers();
    int answer = MessageBoxAnsweredAtOnce(page, question, L"セットアップ",
                                          MB_YESNO | MB_ICONQUESTION);
    ResumeWorkers();
    if (answer == IDYES) SetupCancelled = true;
    return answer == IDYES;
}

HFONT CreateTitleFont()
{
    LOGFONTW font;
    GetObjectW(GetStockObject(ANSI_VAR_FONT), sizeof font, &font);
    font.lfHeight = ScaledPixels(20);
    font.lfWidth = 0;
    font.lfWeight = 900;
    return CreateFontIndirectW(&font);
}

// The page keeps its font in DWLP_USER, so it can be deleted with the page.
void SetTitleFont(HWND page, int controlId)
{
    HFONT font = CreateTitleFont();
    SetWindowLongPtrW(page, DWLP_USER, (LONG_PTR)font);
    SendDlgItemMessageW(page, controlId, WM_SETFONT, (WPARAM)font, TRUE);
}

void ReleaseTitleFont(HWND page)
{
    HFONT font = (HFONT)SetWindowLongPtrW(page, DWLP_USER, 0);
    if (font) DeleteObject(font);
}

void RepaintAfterActivation(HWND page)
{
    PostMessageW(page, WM_REPAINT_SHEET, 0, 0);
}

void RepaintSheet(HWND page)
{
    RedrawWindow(GetParent(page), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}
