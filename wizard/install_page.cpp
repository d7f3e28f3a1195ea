// The install page: starts the install worker, shows the current file and the
// count, and ends the wizard honestly: the finished page only when every ticked mod
// arrived whole and was installed without a failure.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "mods/catalog.h"
#include "mods/download/download_worker.h"
#include "mods/install/held_files_check.h"
#include "mods/install/install_worker.h"
#include "resources/resource.h"
#include "wizard/held_files_question.h"
#include "wizard/page_common.h"
#include "wizard/wizard.h"

bool EverythingInstalled(int selectedMods, size_t downloadedFiles, int installFailures)
{
    return downloadedFiles == (size_t)selectedMods && installFailures == 0;
}

namespace {

constexpr UINT_PTR RefreshTimer = 100;
constexpr UINT RefreshMs = 10;

HANDLE worker;
bool installCancelRequested;
// As on the download page: while the question is open the page does not move on.
bool questionOpen;
bool workerEnded;
bool nextPosted;
bool workerStarted;

void EnableWizardCancel(HWND page, bool enable)
{
    EnableWindow(GetDlgItem(GetParent(page), IDCANCEL), enable);
}

void OnInstallInit(HWND page)
{
    SendDlgItemMessageW(page, IDC_INSTALL_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SetTimer(page, RefreshTimer, RefreshMs, nullptr);
    AskToRetryHeldFiles = AskFromInstallWorker;
    worker = CreateThread(nullptr, 0, InstallWorker, &InstallProgress, 0, nullptr);
    workerStarted = worker != nullptr;
}

bool RunEndsWell()
{
    return !installCancelRequested && workerStarted
        && EverythingInstalled(SelectedModCount(), DownloadedFiles.size(),
                               InstallProgress.failures);
}

void MoveOn(HWND page)
{
    if (nextPosted) return;
    if (!RunEndsWell()) {
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

void ShowInstallProgress(HWND page)
{
    int total = InstallProgress.filesToInstall;
    if (total <= 0) return;
    SendDlgItemMessageW(page, IDC_INSTALL_BAR, PBM_SETRANGE32, 0, total);
    SendDlgItemMessageW(page, IDC_INSTALL_BAR, PBM_SETPOS, InstallProgress.filesInstalled, 0);
    wchar_t current[256];
    GetCurrentFile(InstallProgress, current);
    SetDlgItemTextW(page, IDC_INSTALL_FILE, current);
}

// The worker's own question, about files another program holds, comes first: it waits
// for the answer.
bool AnswerWorker(HWND page)
{
    questionOpen = true;
    bool asked = AnswerWorkerQuestion(page);
    questionOpen = false;
    if (asked && workerEnded) MoveOn(page);
    return asked;
}

void OnRefresh(HWND page)
{
    if (questionOpen || AnswerWorker(page)) return;
    if (!worker || WaitForSingleObject(worker, 0) == WAIT_OBJECT_0)
        OnWorkerEnded(page);
    else
        ShowInstallProgress(page);
}

void OnInstallCancel(HWND page)
{
    questionOpen = true;
    if (AskWhileWorkerHeld(page, L"インストールが続行中です。\n終了しますか？"))
        installCancelRequested = true;
    questionOpen = false;
    SetPageResult(page, StayOnPage);
    if (workerEnded) MoveOn(page);
}

void OnInstallNext(HWND page)
{
    nextPosted = false;
    if (questionOpen)
        SetPageResult(page, StayOnPage);  // the answer moves on
    else if (!RunEndsWell())
        SetPageResult(page, IDD_FAILED);
}

void OnInstallNotify(HWND page, const NMHDR* header)
{
    switch (header->code) {
    case PSN_SETACTIVE:
        EnableWizardCancel(page, false);
        if (!installCancelRequested) SetWizardButtons(page, 0);
        break;
    case PSN_KILLACTIVE:
        EnableWizardCancel(page, true);
        break;
    case PSN_WIZNEXT:
        OnInstallNext(page);
        break;
    case PSN_QUERYCANCEL:
        OnInstallCancel(page);
        break;
    }
}

}  // namespace

INT_PTR CALLBACK InstallPage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInstallInit(page);
        return TRUE;
    case WM_TIMER:
        OnRefresh(page);
        return 0;
    case WM_NOTIFY:
        OnInstallNotify(page, (const NMHDR*)lParam);
        return TRUE;
    }
    return FALSE;
}
