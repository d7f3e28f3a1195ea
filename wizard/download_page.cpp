// The download page: starts the download worker, shows its counters on a 10 ms
// timer, asks before cancelling, and moves on by itself when the worker has ended.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlwapi.h>

#include "mods/catalog.h"
#include "mods/download/download_worker.h"
#include "resources/resource.h"
#include "wizard/page_common.h"
#include "wizard/wizard.h"

namespace {

constexpr UINT_PTR RefreshTimer = 100;
constexpr UINT RefreshMs = 10;

HANDLE worker;
uint32_t lastFilesDone;
bool marqueeOn;
// The message box of the cancel question runs its own message loop, which goes on
// delivering the timer and posted messages: while it is open the page must not move
// on, or the wizard would go to the install page behind the question.
bool questionOpen;
bool workerEnded;
bool nextPosted;

void ShowFilesDone(HWND page, uint32_t done)
{
    wchar_t text[256];
    wsprintfW(text, L"%d / %d ファイル", (int)done, SelectedModCount());
    SetDlgItemTextW(page, IDC_DOWNLOAD_FILES, text);
}

void SetMarquee(HWND page, bool on)
{
    HWND bar = GetDlgItem(page, IDC_DOWNLOAD_FILE_BAR);
    LONG style = GetWindowLongW(bar, GWL_STYLE);
    SetWindowLongW(bar, GWL_STYLE, on ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, on, 0);
    marqueeOn = on;
}

void ByteSizeText(uint64_t bytes, wchar_t (&text)[100])
{
    StrFormatByteSizeW((LONGLONG)bytes, text, 100);
}

// The bar takes an int: sizes of 2 GiB and more are shown in larger units.
int BarShift(uint64_t total)
{
    int shift = 0;
    while ((total >> shift) > 0x7FFFFFFF) ++shift;
    return shift;
}

void OnDownloadInit(HWND page)
{
    marqueeOn = false;
    lastFilesDone = 0;
    SendDlgItemMessageW(page, IDC_DOWNLOAD_FILES_BAR, PBM_SETRANGE, 0,
                        MAKELPARAM(0, SelectedModCount()));
    ShowFilesDone(page, 0);
    DownloadProgress.cancelRequested = 0;
    SetTimer(page, RefreshTimer, RefreshMs, nullptr);
    worker = CreateThread(nullptr, 0, DownloadWorker, &DownloadProgress, 0, nullptr);
}

// A Next still on its way answers a confirmed cancel itself (PSN_WIZNEXT below).
void MoveOn(HWND page)
{
    if (nextPosted) return;
    if (DownloadProgress.cancelRequested) {
        JumpToFailedPage(page);
    } else {
        nextPosted = true;
        PostMessageW(GetParent(page), PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    }
}

void OnWorkerEnded(HWND page)
{
    KillTimer(page, RefreshTimer);
    if (worker) CloseHandle(worker);
    worker = nullptr;
    workerEnded = true;
    MoveOn(page);
}

void ShowFileProgress(HWND page)
{
    uint64_t received = DownloadProgress.bytesReceived;
    uint64_t total = DownloadProgress.bytesTotal;
    if (received == 0) return;
    wchar_t text[256], receivedText[100], totalText[100];
    ByteSizeText(received, receivedText);
    if (total != 0) {
        int shift = BarShift(total);
        SendDlgItemMessageW(page, IDC_DOWNLOAD_FILE_BAR, PBM_SETRANGE32, 0,
                            (LPARAM)(total >> shift));
        SendDlgItemMessageW(page, IDC_DOWNLOAD_FILE_BAR, PBM_SETPOS,
                            (WPARAM)((received < total ? received : total) >> shift), 0);
        ByteSizeText(total, totalText);
        wsprintfW(text, L"%s / %s", receivedText, totalText);
    } else {
        // No announced length: only the bytes so far, and a bar that says "busy".
        if (!marqueeOn) SetMarquee(page, true);
        wsprintfW(text, L"%s", receivedText);
    }
    SetDlgItemTextW(page, IDC_DOWNLOAD_BYTES, text);
}

void OnRefresh(HWND page)
{
    if (questionOpen) return;
    // A worker that never started is treated like one that failed at once.
    if (!worker) {
        KillTimer(page, RefreshTimer);
        JumpToFailedPage(page);
        return;
    }
    if (WaitForSingleObject(worker, 0) == WAIT_OBJECT_0) {
        OnWorkerEnded(page);
        return;
    }
    uint32_t done = DownloadProgress.filesDone;
    if (done != lastFilesDone) {
        lastFilesDone = done;
        SetMarquee(page, false);
        SendDlgItemMessageW(page, IDC_DOWNLOAD_FILE_BAR, PBM_SETPOS, 0, 0);
        SendDlgItemMessageW(page, IDC_DOWNLOAD_FILES_BAR, PBM_SETPOS, done, 0);
        ShowFilesDone(page, done);
        return;
    }
    ShowFileProgress(page);
}

void OnDownloadCancel(HWND page)
{
    questionOpen = true;
    if (AskWhileWorkerHeld(page, L"ダウンロードが続行中です。\n終了しますか？"))
        DownloadProgress.cancelRequested = 1;
    questionOpen = false;
    SetPageResult(page, StayOnPage);
    // The worker may have ended, and a Next been refused, while the question was open.
    if (workerEnded) MoveOn(page);
}

void OnDownloadNext(HWND page)
{
    nextPosted = false;
    if (questionOpen)
        SetPageResult(page, StayOnPage);  // the answer moves on
    else if (DownloadProgress.cancelRequested)
        SetPageResult(page, IDD_FAILED);
}

void OnDownloadNotify(HWND page, const NMHDR* header)
{
    switch (header->code) {
    case PSN_SETACTIVE:
        if (!DownloadProgress.cancelRequested) SetWizardButtons(page, 0);
        FocusSheetButton(page, IDCANCEL);  // Next, which had it, is disabled now
        break;
    case PSN_WIZNEXT:
        OnDownloadNext(page);
        break;
    case PSN_QUERYCANCEL:
        OnDownloadCancel(page);
        break;
    }
}

}  // namespace

INT_PTR CALLBACK DownloadPage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnDownloadInit(page);
        return TRUE;
    case WM_TIMER:
        OnRefresh(page);
        return 0;
    case WM_NOTIFY:
        OnDownloadNotify(page, (const NMHDR*)lParam);
        return TRUE;
    }
    return FALSE;
}
