#include "wizard/held_files_question.h"

#include "mods/catalog.h"
#include "mods/files_in_use.h"
#include "wizard/answer_at_once.h"

namespace {

struct Question {
    SRWLOCK lock = SRWLOCK_INIT;
    bool waiting = false;
    std::wstring text;
    bool retry = false;
    HANDLE answered = nullptr;  // auto-reset
};

Question question;

}  // namespace

std::wstring HeldFilesQuestion(const wchar_t* modName, const std::vector<std::wstring>& files,
                               const std::vector<std::wstring>& programs)
{
    return std::wstring(L"次のファイルが他のプログラムで使用されているため、") + modName
         + L" をインストールできません:\n\n" + HeldFilesList(files, programs)
         + L"\nこれらのファイルを使っているプログラムを閉じてから［再試行］を押してください。\n"
           L"［キャンセル］を押すと " + modName
         + L" はインストールされず（何も変更されません）、ほかの MOD のインストールを続けます。";
}

bool AskFromInstallWorker(int row, const std::vector<std::wstring>& files,
                          const std::vector<std::wstring>& programs)
{
    const wchar_t* name = row >= 0 && row < ModCount ? ModCatalog[row].displayName : L"MOD";
    AcquireSRWLockExclusive(&question.lock);
    if (!question.answered) question.answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    question.text = HeldFilesQuestion(name, files, programs);
    question.retry = false;
    question.waiting = true;
    HANDLE answered = question.answered;
    ReleaseSRWLockExclusive(&question.lock);
    if (!answered) return false;
    WaitForSingleObject(answered, INFINITE);
    AcquireSRWLockShared(&question.lock);
    bool retry = question.retry;
    ReleaseSRWLockShared(&question.lock);
    return retry;
}

bool AnswerWorkerQuestion(HWND page)
{
    AcquireSRWLockShared(&question.lock);
    bool waiting = question.waiting;
    std::wstring text = question.text;
    ReleaseSRWLockShared(&question.lock);
    if (!waiting) return false;
    // Closing the box with its close button answers Cancel.
    bool retry = MessageBoxAnsweredAtOnce(page, text.c_str(), L"セットアップ",
                                          MB_RETRYCANCEL | MB_ICONWARNING)
              == IDRETRY;
    AcquireSRWLockExclusive(&question.lock);
    question.waiting = false;
    question.retry = retry;
    ReleaseSRWLockExclusive(&question.lock);
    SetEvent(question.answered);
    return true;
}
