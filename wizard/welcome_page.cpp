// The first page: greeting, product name, and the wizard centred on the screen.
#include <windows.h>
#include <prsht.h>

#include "app/state.h"
#include "resources/resource.h"
#include "wizard/page_common.h"
#include "wizard/scaled_art.h"
#include "wizard/wizard.h"

static void CentreWizardOnScreen(HWND wizard)
{
    RECT rect;
    GetWindowRect(wizard, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    MoveWindow(wizard, x, y, width, height, FALSE);
}

static void OnWelcomeInit(HWND page)
{
    wchar_t text[1024];
    wsprintfW(text,
              L"セットアップウィザードへようこそ。\n"
              L"このウィザードではお使いのSteelmarchに %s をインストールします。\n"
              L"インストール続行する前に他のアプリケーションをすべて終了してください。\n\n"
              L"続行するには「次へ」を選択してください。",
              ProductName);
    SetDlgItemTextW(page, IDC_WELCOME_TEXT, text);
    wsprintfW(text, L"%s セットアップウィザードの開始", ProductName);
    SetDlgItemTextW(page, IDC_WELCOME_HEADING, text);

    CentreWizardOnScreen(GetParent(page));
    ScaleSheetHeader(GetParent(page));
    SetTitleFont(page, IDC_WELCOME_HEADING);
}

static void OnWelcomeNotify(HWND page, const NMHDR* header)
{
    switch (header->code) {
    case PSN_SETACTIVE:
        SetWizardButtons(page, PSWIZB_NEXT);
        RepaintAfterActivation(page);
        break;
    case PSN_QUERYCANCEL:
        AskCancelSetup(page);
        break;
    }
}

INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnWelcomeInit(page);
        return TRUE;
    case WM_NOTIFY:
        OnWelcomeNotify(page, (const NMHDR*)lParam);
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
