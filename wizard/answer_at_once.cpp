#include "wizard/answer_at_once.h"

#include <atomic>
#include <memory>
#include <string>

namespace {

// Shared by the caller and the box's thread; the last one done with it frees it.
struct BoxRun {
    HWND owner = nullptr;
    std::wstring text, caption;
    UINT type = 0;
    std::atomic<int> answer{0};
    HANDLE answered = nullptr;  // manual-reset
    HHOOK hook = nullptr;

    ~BoxRun()
    {
        if (answered) CloseHandle(answered);
    }
};

thread_local BoxRun* boxOfThisThread;

void Answer(BoxRun& run, int answer)
{
    int none = 0;
    if (run.answer.compare_exchange_strong(none, answer)) SetEvent(run.answered);
}

// A button pressed with the mouse, a key or BM_CLICK, and the close box (where the box
// has a Cancel button) all reach the box as a sent WM_COMMAND.
bool IsAnswer(const CWPSTRUCT& sent)
{
    if (sent.message != WM_COMMAND || HIWORD(sent.wParam) != BN_CLICKED) return false;
    if (GetWindowLongW(sent.hwnd, GWL_STYLE) & WS_CHILD) return false;
    HWND button = GetDlgItem(sent.hwnd, LOWORD(sent.wParam));
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

LRESULT CALLBACK WatchSentMessages(int code, WPARAM wParam, LPARAM lParam)
{
    BoxRun* run = boxOfThisThread;
    if (code == HC_ACTION && run && IsAnswer(*reinterpret_cast<const CWPSTRUCT*>(lParam)))
        Answer(*run, LOWORD(reinterpret_cast<const CWPSTRUCT*>(lParam)->wParam));
    return CallNextHookEx(run ? run->hook : nullptr, code, wParam, lParam);
}

DWORD WINAPI BoxThread(LPVOID argument)
{
    std::unique_ptr<std::shared_ptr<BoxRun>> share(static_cast<std::shared_ptr<BoxRun>*>(argument));
    BoxRun& run = **share;
    boxOfThisThread = &run;
    run.hook = SetWindowsHookExW(WH_CALLWNDPROC, WatchSentMessages, nullptr, GetCurrentThreadId());
    int answer = MessageBoxW(run.owner, run.text.c_str(), run.caption.c_str(), run.type);
    if (run.hook) UnhookWindowsHookEx(run.hook);
    boxOfThisThread = nullptr;
    Answer(run, answer ? answer : IDCANCEL);
    return 0;
}

// Sent messages (the box disables and enables its owner) and posted ones are handled
// while waiting, as in the loop MessageBoxW runs itself.
void WaitDeliveringMessages(HANDLE event)
{
    int quit = -1;
    while (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = (int)message.wParam;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (quit >= 0) PostQuitMessage(quit);
}

}  // namespace

int MessageBoxAnsweredAtOnce(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type)
{
    auto run = std::make_shared<BoxRun>();
    run->owner = owner;
    run->text = text;
    run->caption = caption;
    run->type = type;
    run->answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto* threadsShare = run->answered ? new std::shared_ptr<BoxRun>(run) : nullptr;
    HANDLE thread = threadsShare ? CreateThread(nullptr, 0, BoxThread, threadsShare, 0, nullptr)
                                 : nullptr;
    if (!thread) {
        delete threadsShare;
        return MessageBoxW(owner, text, caption, type);
    }
    CloseHandle(thread);
    WaitDeliveringMessages(run->answered);
    return run->answer.load();
}
