// HttpDownloadToFile against a real HTTP and HTTPS server on loopback.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "mods/http_download.h"
#include "tests/net/net_test_env.h"
#include "tests/unit/test_files.h"

namespace {

struct Fetch {
    bool result;
    uint32_t received;
    uint32_t total;
};

Fetch Download(const std::wstring& url, const std::wstring& path, uint32_t cancel = 0)
{
    Counter received{0xDEAD}, total{0xBEEF}, cancelRequested{cancel};
    bool result = HttpDownloadToFile(url.c_str(), path.c_str(), received, total, cancelRequested);
    return {result, received.load(), total.load()};
}

class HttpDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        ServeFile(L"body.bin", body);
        HttpTimeoutMs = 30000;
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
    EXPECT_LE(fetch.received, 4096u) << "one chunk is read and written before the flag is seen";
    EXPECT_FALSE(FileExists(path));
}

TEST_F(HttpDownload, CancelDuringASlowBodyStopsSoon)
{
    std::wstring path = scratch.Sub(L"slow.bin");
    Counter received{0}, total{0}, cancel{0};
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
TEST_F(HttpDownload, WithheldHandshakeFailsByItselfAndTheTransferNeverWritesAfterwards)
{
    HttpTimeoutMs = 1500;
    ServeFile(L"tls-handshake.mode", "stall 5");
    std::wstring path = scratch.Sub(L"handshake.bin");
    DWORD start = GetTickCount();
    Fetch fetch = Download(HttpsUrl(L"/files/body.bin"), path);
    DWORD elapsed = GetTickCount() - start;
    RemoveServedFile(L"tls-handshake.mode");
    EXPECT_FALSE(fetch.result);
    EXPECT_GE(elapsed, HttpTimeoutMs);
    EXPECT_LT(elapsed, HttpTimeoutMs + StallMarginMs + 1000);
    // The handshake comes at 5 s and the body after it, to a transfer given up.
    Sleep(5000 + 2000 - elapsed);
    EXPECT_FALSE(FileExists(path)) << "the abandoned transfer wrote its file";
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
        Counter received{0}, total{0}, cancel{0};
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
