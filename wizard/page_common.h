#pragma once
// What every wizard page shares: answering the frame, the wizard buttons, the jump
// to the failed page, the cancel question and the title font.
#include <windows.h>
#include <prsht.h>

// Missing from MinGW-w64's prsht.h: the Wizard97 sheet without the default margin.
#ifndef PSH_NOMARGIN
#define PSH_NOMARGIN 0x10000000
#endif

// A page's answer to a notification, read by the frame from DWLP_MSGRESULT.
constexpr LONG_PTR StayOnPage = -1;

void SetPageResult(HWND page, LONG_PTR result);
void SetWizardButtons(HWND page, DWORD buttons);
void JumpToFailedPage(HWND page);
// Gives the keyboard focus to a sheet button (IDCANCEL, or FinishButtonId) once the
// sheet is done with the page change: the button that had it may be disabled or
// hidden now, and keys would then go nowhere.
constexpr int FinishButtonId = 0x3025;
void FocusSheetButton(HWND page, int buttonId);

// "Setup is not complete, quit?" On Yes the wizard moves to the failed page. The
// wizard itself never closes from a cancel request, so the answer is always -1.
void AskCancelSetup(HWND page);

// The download and install pages' question while their worker runs: the worker is
// held at its next safe point until the answer. True on Yes.
bool AskWhileWorkerHeld(HWND page, const wchar_t* question);

// The welcome and finish pages draw no background of their own: the sheet paints
// the watermark and the white behind them. Wine repaints only the header band when
// the page changes, so after a page with a header the old page would stay on
// screen behind the new one. Once the new page is shown (the activation posts a
// message to itself), the whole sheet is painted again.
constexpr UINT WM_REPAINT_SHEET = WM_APP + 1;
void RepaintAfterActivation(HWND page);
void RepaintSheet(HWND page);

// Both finish pages, when shown: downloads deleted, Finish as the only button.
void ShowAsLastPage(HWND page);

// The heading font of the welcome and finish pages: the stock ANSI_VAR_FONT made
// 20 pixels high at 96 DPI, scaled with the display, and black (weight 900). The caller deletes it.
HFONT CreateTitleFont();
void SetTitleFont(HWND page, int controlId);
void ReleaseTitleFont(HWND page);
