#include "app/uninstall_window.h"

#include <commctrl.h>

#include "app/state.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR RefreshTimer = 100;
constexpr UINT RefreshMs = 50;

struct Job {
    UninstallCounters* progress;
    LPTHREAD_START_ROUTINE work;
    void* parameter;
    HANDLE thread;
};

void ShowProgress(HWND window, const UninstallCounters& progress)
{
    int total = progress.filesTotal, done = progress.filesDone;
    SendDlgItemMessageW(window, IDC_UNINSTALL_BAR, PBM_SETRANGE32, 0, total > 0 ? total : 1);
    SendDlgItemMessageW(window, IDC_UNINSTALL_BAR, PBM_SETPOS, done, 0);
    wchar_t text[128];
    wsprintfW(text, L"ファイルを削除しています... (%d / %d)", done, total);
    SetDlgItemTextW(window, IDC_UNINSTALL_TEXT, text);
}

void OnInit(HWND window, Job& job)
{
    wchar_t caption[128];
    wsprintfW(caption, L"%s アンインストール", ProductName);
    SetWindowTextW(window, caption);
    SetWindowLongPtrW(window, DWLP_USER, (LONG_PTR)&job);
    job.thread = CreateThread(nullptr, 0, job.work, job.parameter, 0, nullptr);
    if (!job.thread) {
        job.work(job.parameter);
        EndDialog(window, 0);
        return;
    }
    SetTimer(window, RefreshTimer, RefreshMs, nullptr);
}

void OnTimer(HWND window, Job& job)
{
    ShowProgress(window, *job.progress);
    if (WaitForSingleObject(job.thread, 0) != WAIT_OBJECT_0) return;
    KillTimer(window, RefreshTimer);
    CloseHandle(job.thread);
    job.thread = nullptr;
    EndDialog(window, 0);
}

INT_PTR CALLBACK ProgressWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Job* job = (Job*)GetWindowLongPtrW(window, DWLP_USER);
    switch (message) {
    case WM_INITDIALOG:
        OnInit(window, *(Job*)lParam);
        return TRUE;
    case WM_TIMER:
        if (job && wParam == RefreshTimer) OnTimer(window, *job);
        return TRUE;
    case WM_CLOSE:
        return TRUE;  // an uninstall half done is worse than one finished
    }
    return FALSE;
}

}  // namespace

void RunBehindProgressWindow(HINSTANCE instance, UninstallCounters& progress,
                             LPTHREAD_START_ROUTINE work, void* parameter)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    Job job{&progress, work, parameter, nullptr};
    if (DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UNINSTALL), nullptr, ProgressWindow,
                        (LPARAM)&job)
        == -1)
        work(parameter);
}
