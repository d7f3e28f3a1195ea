#include "mods/download/http_download.h"

#include <cstring>
#include <memory>

#include "app/long_path.h"
#include "mods/download/background_hash.h"
#include "mods/download/http_answer.h"
#include "mods/download/resume.h"
#include "mods/download/transfer.h"
#include "mods/download/transfer_thread.h"
#include "mods/worker_pause.h"

namespace {

// The wait before the next try; the question holds it like a transfer, and a cancel
// ends it. False when cancelled.
bool WaitBeforeRetry(DWORD delayMs, const Counter& cancelRequested)
{
    DWORD waited = 0;
    while (waited < delayMs) {
        if (cancelRequested.load()) return false;
        Sleep(PollMs);
        if (!WorkersArePaused()) waited += PollMs;
    }
    return !cancelRequested.load();
}

// Where the next try starts: after the bytes on disk when the server can be asked for
// the rest of the same answer (its length and a validator are known), else at zero.
ResumePoint NextStart(const Transfer& t, const ResumePoint& previous)
{
    if (t.rangeRefused) return ResumePoint();
    ResumePoint next = t.answered ? t.answer : previous;
    next.from = t.received.load();
    if (next.from == 0 || next.total == 0 || next.validator.empty()) return ResumePoint();
    return next;
}

std::wstring TryText(int tryNumber)
{
    return L"try " + std::to_wstring(tryNumber) + L" of " + std::to_wstring(DownloadTries);
}

std::wstring RetryNote(const std::wstring& path, const Transfer& t, int tryNumber,
                       const ResumePoint& next)
{
    return L"Retrying: " + path + L" - " + DescribeFailure(t.failure) + L" at byte "
         + std::to_wstring(t.received.load()) + L" (" + TryText(tryNumber) + L"); the next "
         + (next.from > 0 ? L"asks for the rest from byte " + std::to_wstring(next.from)
                          : std::wstring(L"starts over"));
}

}  // namespace

bool HttpDownloadToFile(const wchar_t* url, const wchar_t* localPath, ByteCounter& bytesReceived,
                        ByteCounter& bytesTotal, const Counter& cancelRequested,
                        const char* sha256Hex, DownloadReport* report, bool hashBytes)
{
    DownloadReport unused;
    DownloadReport& r = report ? *report : unused;
    r = DownloadReport();
    bytesTotal = 0;
    UrlParts parts;
    const std::wstring path = localPath;
    if (!SplitUrl(url, parts)) {
        r.failure = DownloadFailure::Other;
        r.notes.push_back(L"Failed: " + path + L" - the address cannot be read: " + url);
        return false;
    }
    bool pinned = sha256Hex && *sha256Hex;
    BackgroundSha256 hash;
    ResumePoint resume;
    bool fileMade = false;
    for (int tryNumber = 1;; ++tryNumber) {
        HANDLE thread = nullptr;
        std::shared_ptr<Transfer> transfer = StartTry(parts, localPath, resume,
                                                      pinned || hashBytes ? &hash : nullptr,
                                                      cancelRequested.load() != 0, thread);
        Transfer& t = *transfer;
        std::wstring refusal;
        FailureDetails details;
        details.host = parts.host;
        TryEnd end = thread ? WaitForTransfer(thread, t, bytesReceived, bytesTotal,
                                              cancelRequested)
                            : t.end;
        if (thread) CloseHandle(thread);
        {
            Locked hold(t);
            fileMade = fileMade || t.fileMade;
            if (t.finished) {  // an abandoned try may still write these
                refusal = t.refusal;
                details.statusText = t.statusText;
                details.error = t.error;
                if (!t.hostAsked.empty()) details.host = t.hostAsked;
            }
        }
        details.httpStatus = t.status;
        r.httpStatus = t.status;
        if (t.restarted)
            r.notes.push_back(L"Restarting: " + path + L" - the server sent the whole file again ("
                              + TryText(tryNumber) + L")");
        if (end == TryEnd::Done) {
            if (pinned || hashBytes) r.sha256 = hash.FinishHex();
            if (!pinned || _stricmp(r.sha256.c_str(), sha256Hex) == 0) return true;
            r.failure = DownloadFailure::HashMismatch;
            r.notes.push_back(L"Failed: " + path + L" - SHA-256 mismatch: expected "
                              + std::wstring(sha256Hex, sha256Hex + std::strlen(sha256Hex))
                              + L", got " + std::wstring(r.sha256.begin(), r.sha256.end()));
            break;
        }
        r.failure = cancelRequested.load() ? DownloadFailure::Cancelled : t.failure;
        if (r.failure == DownloadFailure::Cancelled) break;
        if (end == TryEnd::Fail) {
            // One line says why, whatever ended the download.
            if (!refusal.empty())
                r.notes.push_back(refusal);
            else if (r.failure == DownloadFailure::InvalidAnswer)
                r.notes.push_back(L"Failed: " + path + L" - " + DescribeFailure(r.failure) + L": "
                                  + DescribeAnswerFault(t.answerFault));
            else
                r.notes.push_back(L"Failed: " + path + L" - " + ExplainFailure(r.failure, details));
            break;
        }
        if (tryNumber == DownloadTries) {
            r.notes.push_back(L"Failed: " + path + L" - " + DescribeFailure(r.failure)
                              + L", after " + std::to_wstring(DownloadTries) + L" tries");
            break;
        }
        resume = NextStart(t, resume);
        r.notes.push_back(RetryNote(path, t, tryNumber, resume));
        if (!WaitBeforeRetry(RetryDelayUnitMs << (tryNumber - 1), cancelRequested)) {
            r.failure = DownloadFailure::Cancelled;
            break;
        }
    }
    if (fileMade) DeleteFileW(SystemPath(localPath).c_str());
    return false;
}
