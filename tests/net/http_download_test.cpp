// HttpDownloadToFile against a real HTTP and HTTPS server on loopback.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "mods/download/http_download.h"
#include "mods/sha256.h"
#include "tests/net/net_test_env.h"
#include "tests/unit/test_files.h"

namespace {

struct Fetch {
    bool result;
    uint64_t received;
    uint64_t total;
    DownloadReport report;
};

Fetch Download(const std::wstring& url, const std::wstring& path, uint32_t cancel = 0,
               const char* sha256 = nullptr, bool hashBytes = false)
{
    ByteCounter received{0xDEAD}, total{0xBEEF};
    Counter cancelRequested{cancel};
    Fetch fetch;
    fetch.result = HttpDownloadToFile(url.c_str(), path.c_str(), received, total,
                                      cancelRequested, sha256, &fetch.report, hashBytes);
    fetch.received = received.load();
    fetch.total = total.load();
    return fetch;
}

class HttpDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServeFile(L"body.bin", body);
        HttpTimeoutMs = 30000;
        RetryDelayUnitMs = 20;  // the tests that time the waits set the real second
    }
    std::string body = PatternBytes(100000, 1);
    ScratchFolder scratch;
};

}  // namespace

TEST_F(HttpDownload, SizedBodyOverHttpAndHttps)
{
    for (const std::wstring& url : {HttpUrl(L"/files/body.bin"), HttpsUrl(L"/files/body.bin")}) {
        std::wstring path = scratch.Sub(L"out.bin");
        Fetch fetch = Download(url, path);
        EXPECT_TRUE(fetch.result);
        EXPECT_EQ(body.size(), fetch.received);
        EXPECT_EQ(body.size(), fetch.total);
        EXPECT_TRUE(ReadWholeFile(path) == body);
        EXPECT_EQ("", fetch.report.sha256) << "hashed only when asked";
    }
}

TEST_F(HttpDownload, ChunkedBodyHasNoTotalButArrivesWhole)
{
    std::wstring path = scratch.Sub(L"chunked.bin");
    Fetch fetch = Download(HttpUrl(L"/chunked/body.bin"), path);
    EXPECT_TRUE(fetch.result);
    EXPECT_EQ(0u, fetch.total);
    EXPECT_EQ(body.size(), fetch.received);
    EXPECT_TRUE(ReadWholeFile(path) == body);
}

TEST_F(HttpDownload, EmptyBodyMakesAnEmptyFile)
{
    std::wstring path = scratch.Sub(L"empty.bin");
    Fetch fetch = Download(HttpsUrl(L"/empty"), path);
    EXPECT_TRUE(fetch.result);
    EXPECT_EQ(0u, fetch.received);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ("", ReadWholeFile(path));
}

TEST_F(HttpDownload, NotFoundLeavesAnOlderFileAlone)
{
    std::wstring path = scratch.Sub(L"older.bin");
    scratch.Write(L"older.bin", "from an earlier run");
    Fetch fetch = Download(HttpUrl(L"/files/no-such-file.bin"), path);
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ("from an earlier run", ReadWholeFile(path));

    std::wstring fresh = scratch.Sub(L"fresh.bin");
    EXPECT_FALSE(Download(HttpsUrl(L"/missing"), fresh).result);
    EXPECT_FALSE(FileExists(fresh));
}

TEST_F(HttpDownload, RedirectsAreFollowedToTheFinalStatus)
{
    std::wstring path = scratch.Sub(L"redirected.bin");
    Fetch fetch = Download(HttpUrl(L"/redirect/files/body.bin"), path);
    EXPECT_TRUE(fetch.result);
    EXPECT_TRUE(ReadWholeFile(path) == body);

    fetch = Download(HttpsUrl(L"/redirect-abs/files/body.bin"), scratch.Sub(L"abs.bin"));
    EXPECT_TRUE(fetch.result);

    std::wstring lost = scratch.Sub(L"lost.bin");
    EXPECT_FALSE(Download(HttpUrl(L"/redirect/files/nowhere.bin"), lost).result);
    EXPECT_FALSE(FileExists(lost));
}

TEST_F(HttpDownload, BodyCutBeforeItsLengthIsAFailureAndLeavesNoFile)
{
    std::wstring path = scratch.Sub(L"cut.bin");
    scratch.Write(L"cut.bin", "older");
    Fetch fetch = Download(HttpUrl(L"/cut/body.bin"), path);
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(body.size(), fetch.total);
    EXPECT_LT(fetch.received, body.size());
    EXPECT_FALSE(FileExists(path)) << "a partial file must not look like a download";
}

TEST_F(HttpDownload, CancelFlagStopsAfterOneChunkAndRemovesTheFile)
{
    std::wstring path = scratch.Sub(L"cancelled.bin");
    Fetch fetch = Download(HttpUrl(L"/files/body.bin"), path, 1);
    EXPECT_FALSE(fetch.result);
    EXPECT_GT(fetch.received, 0u);
    EXPECT_LE(fetch.received, 65536u) << "one chunk is read and written before the flag is seen";
    EXPECT_FALSE(FileExists(path));
}

TEST_F(HttpDownload, CancelDuringASlowBodyStopsSoon)
{
    std::wstring path = scratch.Sub(L"slow.bin");
    ByteCounter received{0}, total{0};
    Counter cancel{0};
    std::thread canceller([&] {
        while (received.load() < 8192) Sleep(5);
        cancel = 1;
    });
    DWORD start = GetTickCount();
    bool result = HttpDownloadToFile(HttpUrl(L"/slow/body.bin?bps=20000").c_str(), path.c_str(),
                                     received, total, cancel);
    DWORD elapsed = GetTickCount() - start;
    canceller.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(body.size(), total.load());
    EXPECT_LT(received.load(), body.size());
    EXPECT_LT(elapsed, 4000u) << "the whole body would take 5 s";
    EXPECT_FALSE(FileExists(path));
}

TEST_F(HttpDownload, TlsMustBeTrustedAndNamedByHost)
{
    EXPECT_FALSE(Download(UntrustedUrl(L"/files/body.bin"), scratch.Sub(L"u.bin")).result);
    EXPECT_FALSE(FileExists(scratch.Sub(L"u.bin")));
    std::wstring byAddress = HttpsUrl(L"/files/body.bin");
    byAddress.replace(byAddress.find(L"localhost"), 9, L"127.0.0.1");
    EXPECT_FALSE(Download(byAddress, scratch.Sub(L"ip.bin")).result)
        << "the certificate names localhost, not the address";
}

TEST_F(HttpDownload, UrlsThatCannotBeSplitFailBeforeAnyTraffic)
{
    std::wstring longHost = L"http://" + std::wstring(256, L'a') + L".example/x";
    Fetch fetch = Download(longHost, scratch.Sub(L"long.bin"));
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(0u, fetch.total);
    std::wstring longTarget = HttpUrl(L"/files/" + std::wstring(300, L'b'));
    EXPECT_FALSE(Download(longTarget, scratch.Sub(L"target.bin")).result);
    EXPECT_FALSE(Download(L"not a url", scratch.Sub(L"bad.bin")).result);
    EXPECT_FALSE(FileExists(scratch.Sub(L"long.bin")));
}

TEST_F(HttpDownload, UnwritableLocalPathFails)
{
    EXPECT_FALSE(Download(HttpUrl(L"/files/body.bin"), scratch.Sub(L"no\\such\\dir\\x")).result);
}

TEST_F(HttpDownload, StalledServerEndsAtTheReceiveTimeout)
{
    HttpTimeoutMs = 1500;
    std::wstring path = scratch.Sub(L"stall.bin");
    DWORD start = GetTickCount();
    Fetch fetch = Download(HttpUrl(L"/stall/body.bin?secs=60"), path);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(fetch.result);
    EXPECT_LT(elapsed, 20000u);
    EXPECT_FALSE(FileExists(path));
}

// A server that takes the connection and withholds the TLS handshake: WinINet's own
// time-outs do not cover that stage, so only the wait for sign of life ends it.
TEST_F(HttpDownload, WithheldHandshakeFailsEachTryByItselfAndNoTryWritesAfterwards)
{
    HttpTimeoutMs = 1500;
    ServeFile(L"tls-handshake.mode", "stall 5");
    std::wstring path = scratch.Sub(L"handshake.bin");
    DWORD start = GetTickCount();
    Fetch fetch = Download(HttpsUrl(L"/files/body.bin"), path);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(DownloadFailure::TimedOut, fetch.report.failure);
    EXPECT_EQ((size_t)DownloadTries, fetch.report.notes.size()) << "three retries, then failed";
    EXPECT_GE(elapsed, DownloadTries * HttpTimeoutMs);
    EXPECT_LT(elapsed, DownloadTries * (HttpTimeoutMs + StallMarginMs + 500) + 7 * RetryDelayUnitMs);
    // Each handshake comes 5 s after its try began, and the body after it, to tries
    // given up 3.5 s in.
    Sleep(5000 - (HttpTimeoutMs + StallMarginMs) + 2000);
    RemoveServedFile(L"tls-handshake.mode");
    EXPECT_FALSE(FileExists(path)) << "an abandoned try wrote its file";
}

TEST_F(HttpDownload, CancelEndsAWaitWhateverTheTransferIsBlockedIn)
{
    struct Blocked {
        const char* stage;
        std::wstring url;
    };
    ServeFile(L"tls-handshake.mode", "stall 20");
    for (const Blocked& blocked :
         {Blocked{"handshake", HttpsUrl(L"/files/body.bin")},
          Blocked{"headers", HttpUrl(L"/noresponse?secs=20")},
          Blocked{"body", HttpUrl(L"/stall/body.bin?secs=20")}}) {
        if (std::string(blocked.stage) == "headers") RemoveServedFile(L"tls-handshake.mode");
        std::wstring path = scratch.Sub(L"blocked.bin");
        ByteCounter received{0}, total{0};
        Counter cancel{0};
        std::thread canceller([&] {
            Sleep(500);
            cancel = 1;
        });
        DWORD start = GetTickCount();
        bool result = HttpDownloadToFile(blocked.url.c_str(), path.c_str(), received, total,
                                         cancel);
        DWORD elapsed = GetTickCount() - start;
        canceller.join();
        EXPECT_FALSE(result) << blocked.stage;
        EXPECT_LT(elapsed, 500 + CancelGraceMs + 500) << blocked.stage;
        EXPECT_FALSE(FileExists(path)) << blocked.stage;
    }
}

// ---- tries again, continuing where the bytes on disk end ------------------------------

TEST_F(HttpDownload, CutsAreResumedFromTheBytesOnDisk)
{
    std::string big = PatternBytes(4 << 20, 5);
    ServeFile(L"big.bin", big);
    std::wstring path = scratch.Sub(L"big.bin");
    Fetch fetch = Download(HttpUrl(L"/cut-at/big.bin?at=1048576,2097152,3145728"), path, 0,
                           nullptr, true);
    EXPECT_TRUE(fetch.result) << (fetch.report.notes.empty() ? "" : Utf8(fetch.report.notes.back()));
    EXPECT_EQ(Sha256Of(big.data(), (DWORD)big.size()), fetch.report.sha256)
        << "the hash taken as the bytes arrived goes on across the tries";
    EXPECT_EQ(big.size(), fetch.received);
    EXPECT_EQ(big.size(), fetch.total);
    EXPECT_TRUE(ReadWholeFile(path) == big);
    ASSERT_EQ(3u, fetch.report.notes.size());
    for (int i = 0; i < 3; ++i) {
        std::wstring at = std::to_wstring((i + 1) * 1048576);
        EXPECT_EQ(L"Retrying: " + path + L" - the body ended before its announced length at byte "
                      + at + L" (try " + std::to_wstring(i + 1)
                      + L" of 4); the next asks for the rest from byte " + at,
                  fetch.report.notes[i]);
    }
}

TEST_F(HttpDownload, AServerIgnoringRangesIsFetchedFromTheStartAgain)
{
    std::string big = PatternBytes(2 << 20, 6);
    ServeFile(L"big.bin", big);
    std::wstring path = scratch.Sub(L"big.bin");
    Fetch fetch = Download(HttpsUrl(L"/cut-at/big.bin?at=1048576,1500000&norange=1"), path, 0,
                           nullptr, true);
    EXPECT_TRUE(fetch.result);
    EXPECT_EQ(Sha256Of(big.data(), (DWORD)big.size()), fetch.report.sha256)
        << "the hash starts again with the bytes";
    EXPECT_TRUE(ReadWholeFile(path) == big);
    ASSERT_EQ(4u, fetch.report.notes.size());
    EXPECT_EQ(0u, fetch.report.notes[1].find(L"Restarting: " + path
                                             + L" - the server sent the whole file again (try 2"));
}

TEST_F(HttpDownload, AServerThatAlwaysCutsIsGivenUpAfterTheLastTry)
{
    RetryDelayUnitMs = 1000;
    std::wstring path = scratch.Sub(L"cut.bin");
    DWORD start = GetTickCount();
    Fetch fetch = Download(HttpUrl(L"/cut/body.bin"), path);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(DownloadFailure::CutShort, fetch.report.failure);
    EXPECT_GE(elapsed, 7000u) << "waits of 1, 2 and 4 s between the tries";
    EXPECT_LT(elapsed, 60000u);
    ASSERT_EQ(4u, fetch.report.notes.size());
    EXPECT_EQ(L"Failed: " + path + L" - the body ended before its announced length, after 4 tries",
              fetch.report.notes[3]);
    EXPECT_FALSE(FileExists(path));
}

TEST_F(HttpDownload, AnswersRefusalsAndDowngradesAreNotTriedAgain)
{
    std::wstring path = scratch.Sub(L"refused.bin");
    Fetch fetch = Download(HttpUrl(L"/files/missing.bin"), path);
    EXPECT_EQ(DownloadFailure::HttpStatus, fetch.report.failure);
    EXPECT_EQ(404u, fetch.report.httpStatus);

    ASSERT_EQ(1u, fetch.report.notes.size());
    EXPECT_EQ(L"Failed: " + path + L" - the server answered 404 Not Found", fetch.report.notes[0]);

    // An https row redirected to plain http fails, and says so; http to http is fine.
    fetch = Download(HttpsUrl(L"/to-http/body.bin"), path);
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(DownloadFailure::Downgraded, fetch.report.failure);
    ASSERT_EQ(1u, fetch.report.notes.size());
    EXPECT_EQ(L"Failed: " + path + L" - redirected from https to plain http",
              fetch.report.notes[0]);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(Download(HttpUrl(L"/to-http/body.bin"), path).result);
}

TEST_F(HttpDownload, AnswersThatAreNotValidHttpFailAtOnceAndSayWhy)
{
    const std::pair<const wchar_t*, const wchar_t*> answers[] = {
        {L"no-status", L"no status line"},
        {L"two-lengths", L"Content-Length given more than once"},
        {L"same-length-twice", L"Content-Length given more than once"},
        {L"length-list", L"Content-Length is not one 64-bit number"},
        {L"huge-length", L"Content-Length is not one 64-bit number"}};
    std::wstring path = scratch.Sub(L"bad.bin");
    for (const auto& answer : answers) {
        for (const std::wstring& url : {HttpUrl(L"/bad/") + answer.first,
                                        HttpsUrl(L"/bad/") + answer.first}) {
            Fetch fetch = Download(url, path);
            EXPECT_FALSE(fetch.result) << url;
            EXPECT_EQ(DownloadFailure::InvalidAnswer, fetch.report.failure) << url;
            ASSERT_EQ(1u, fetch.report.notes.size()) << url << ": tried again";
            EXPECT_EQ(L"Failed: " + path + L" - the server's answer was not valid: "
                          + answer.second, fetch.report.notes[0]);
            EXPECT_FALSE(FileExists(path)) << url;
        }
    }
    // HTTP/1.0 itself is fine.
    EXPECT_TRUE(Download(HttpUrl(L"/bad/http-1.0"), path).result);
    EXPECT_EQ("bytes", ReadWholeFile(path));
}

TEST_F(HttpDownload, AWebPageIsNeverTakenForTheFileNorTriedAgain)
{
    std::wstring path = scratch.Sub(L"page.bin");
    for (const wchar_t* kind : {L"sign-in-page", L"page-as-file"}) {
        for (const std::wstring& url : {HttpUrl(L"/bad/") + kind, HttpsUrl(L"/bad/") + kind}) {
            scratch.Write(L"page.bin", "an older file");
            Fetch fetch = Download(url, path, 0, std::string(64, '0').c_str());
            EXPECT_FALSE(fetch.result) << url;
            EXPECT_EQ(DownloadFailure::WebPage, fetch.report.failure) << url;
            ASSERT_EQ(1u, fetch.report.notes.size()) << url << ": tried again";
            EXPECT_EQ(L"Failed: " + path + L" - the server sent a web page instead of the file",
                      fetch.report.notes[0]);
            EXPECT_EQ("an older file", ReadWholeFile(path)) << url;
        }
    }
}

TEST_F(HttpDownload, LengthsBeyond4GiBAreReadWholeAndACutOneNeverWrapsIntoSuccess)
{
    std::wstring path = scratch.Sub(L"liar.bin");
    ServeFile(L"mib.bin", PatternBytes(1 << 20, 8));
    Fetch fetch = Download(HttpUrl(L"/liar/mib.bin?length=5368709120"), path);
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(5368709120ull, fetch.total);
    EXPECT_EQ(DownloadFailure::CutShort, fetch.report.failure);
    EXPECT_FALSE(FileExists(path));
}

// "abc" has a well-known SHA-256.
TEST_F(HttpDownload, PinnedBytesMustHashToThePin)
{
    const char abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    ServeFile(L"abc.txt", "abc");
    std::wstring path = scratch.Sub(L"abc.txt");
    EXPECT_TRUE(Download(HttpsUrl(L"/files/abc.txt"), path, 0, abc).result);
    EXPECT_TRUE(Download(HttpUrl(L"/files/abc.txt"), path, 0,
                         "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD")
                    .result);

    const char wrong[] = "0000000000000000000000000000000000000000000000000000000000000000";
    Fetch fetch = Download(HttpUrl(L"/files/abc.txt"), path, 0, wrong);
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(DownloadFailure::HashMismatch, fetch.report.failure);
    ASSERT_EQ(1u, fetch.report.notes.size());
    EXPECT_EQ(L"Failed: " + path + L" - SHA-256 mismatch: expected " + std::wstring(wrong, wrong + 64)
                  + L", got " + std::wstring(abc, abc + 64),
              fetch.report.notes[0]);
    EXPECT_FALSE(FileExists(path)) << "a file that is not the pack's is never kept";
}

// The hash follows the bytes across tries: a resumed download still matches its pin.
TEST_F(HttpDownload, APinHoldsAcrossResumes)
{
    ServeFile(L"abc.txt", "abc");
    const char abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::wstring path = scratch.Sub(L"abc.txt");
    Fetch fetch = Download(HttpUrl(L"/cut-at/abc.txt?at=1,2"), path, 0, abc);
    EXPECT_TRUE(fetch.result);
    EXPECT_EQ(2u, fetch.report.notes.size());
    EXPECT_EQ("abc", ReadWholeFile(path));
}
