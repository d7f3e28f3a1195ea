#pragma once
// The install worker's question about files another program holds, asked on the
// install page's own thread: the worker hands it over and waits for the answer, which
// the page gives on its timer, in a box it owns.
#include <windows.h>

#include <string>
#include <vector>

// The worker's side, set as its question while the install page runs: true on Retry.
bool AskFromInstallWorker(int row, const std::vector<std::wstring>& files,
                          const std::vector<std::wstring>& programs);

// The page's side: asks the question waiting, if any, in a box owned by page. True when
// one was asked.
bool AnswerWorkerQuestion(HWND page);

// The box's text, for a mod's display name.
std::wstring HeldFilesQuestion(const wchar_t* modName, const std::vector<std::wstring>& files,
                               const std::vector<std::wstring>& programs);
