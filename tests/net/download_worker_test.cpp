// DownloadWorker over the catalogue, whose URLs this build points at the loopback
// test server (/mod/KEY answers as KEY.mode in the served folder says).
#include <gtest/gtest.h>
#include <windows.h>

#include "app/install_log.h"
#include "mods/catalog.h"
#include "mods/download/download_worker.h"
#include "mods/mod_outcome.h"
#include "tests/net/net_test_env.h"
#include "tests/unit/test_files.h"

namespace {

const wchar_t* const ServedKeys[ModCount] = {L"velloa", L"fieldwatch", L"qvx-8.3.5.zip"};

std::wstring TempPathOf(int row)
{
    std::wstring path;
    TempFilePath(ModCatalog[row].fileName, path);
    return path;
}


class DownloadWorkerRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int row = 0; row < ModCount; ++row) {
            ServeFile(ServedKeys[row], PatternBytes(10000 + row * 5000, row + 7));
            SetServeMode(ServedKeys[row], "files");
            ModCatalog[row].selected = false;
            DeleteFileW(TempPathOf(row).c_str());
        }
        DownloadedFiles.clear();
        DownloadProgress.cancelRequested = 0;
        RetryDelayUnitMs = 20;
        log = scratch.Sub(L"installer.log");
        OpenInstallLog(log.c_str());
    }
    void TearDown() override
    {
        CloseInstallLog();
        for (int row = 0; row < ModCount; ++row) DeleteFileW(TempPathOf(row).c_str());
    }
    DWORD RunWorker()
    {
        HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, &DownloadProgress, 0, nullptr);
        WaitForSingleObject(thread, 60000);
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        CloseInstallLog();
        return code;
    }
    std::string Line(int row, const char* end)
    {
        return "Downloading: " + Utf8(TempPathOf(row)) + " - " + end + "\r\n";
    }
    ScratchFolder scratch;
    std::wstring log;
};

}  // namespace

TEST_F(DownloadWorkerRun, FirstAndThirdRowsArriveInCatalogueOrder)
{
    ModCatalog[0].selected = true;
    ModCatalog[2].selected = true;
    EXPECT_EQ(1u, RunWorker());
    EXPECT_EQ(2u, DownloadProgress.filesDone.load());
    ASSERT_EQ(2u, DownloadedFiles.size());
    EXPECT_EQ(TempPathOf(0), DownloadedFiles[0].path)
        << "saved under the row's file name, whatever the URL says";
    EXPECT_FALSE(DownloadedFiles[0].isArchive);
    EXPECT_EQ(TempPathOf(2), DownloadedFiles[1].path);
    EXPECT_TRUE(DownloadedFiles[1].isArchive);
    EXPECT_TRUE(ReadWholeFile(TempPathOf(2)) == PatternBytes(20000, 9));
    EXPECT_EQ(Line(0, "Done!") + Line(2, "Done!"), ReadWholeFile(log));
    EXPECT_FALSE(FileExists(TempPathOf(1))) << "an unselected row leaves no trace";
}

TEST_F(DownloadWorkerRun, AMissingModFailsAndTheNextIsStillFetched)
{
    SetServeMode(ServedKeys[1], "404");
    ModCatalog[1].selected = true;
    ModCatalog[2].selected = true;
    RunWorker();
    EXPECT_EQ(2u, DownloadProgress.filesDone.load());
    ASSERT_EQ(1u, DownloadedFiles.size());
    EXPECT_EQ(TempPathOf(2), DownloadedFiles[0].path);
    EXPECT_EQ(Line(1, "Failed") + "Failed: " + Utf8(TempPathOf(1))
                  + " - the server answered 404 Not Found\r\n" + Line(2, "Done!"),
              ReadWholeFile(log));
}

TEST_F(DownloadWorkerRun, EveryRowFailingLeavesAnEmptyList)
{
    for (int row = 0; row < ModCount; ++row) {
        SetServeMode(ServedKeys[row], row == 1 ? "cut" : "404");
        ModCatalog[row].selected = true;
    }
    EXPECT_EQ(1u, RunWorker());
    EXPECT_EQ(3u, DownloadProgress.filesDone.load());
    EXPECT_TRUE(DownloadedFiles.empty());
    // The cut row is tried four times; its retries follow its one line.
    std::string text = ReadWholeFile(log);
    EXPECT_EQ(0u, text.find(Line(0, "Failed") + "Failed: " + Utf8(TempPathOf(0))
                            + " - the server answered 404 Not Found\r\n" + Line(1, "Failed")
                            + "Retrying: "));
    EXPECT_NE(std::string::npos,
              text.find("Failed: " + Utf8(TempPathOf(1))
                        + " - the body ended before its announced length, after 4 tries\r\n"
                        + Line(2, "Failed")));
    for (int row = 0; row < ModCount; ++row) EXPECT_FALSE(FileExists(TempPathOf(row)));
}

TEST_F(DownloadWorkerRun, APinnedRowThatDoesNotMatchFailsAloneAndSaysWhy)
{
    const char* pins[ModCount];
    for (int row = 0; row < ModCount; ++row) {
        pins[row] = ModCatalog[row].sha256;
        ModCatalog[row].selected = true;
    }
    ServeFile(ServedKeys[0], "abc");
    ModCatalog[0].sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    ModCatalog[1].sha256 = "1111111111111111111111111111111111111111111111111111111111111111";
    RunWorker();
    for (int row = 0; row < ModCount; ++row) ModCatalog[row].sha256 = pins[row];
    ASSERT_EQ(2u, DownloadedFiles.size());
    EXPECT_EQ(TempPathOf(0), DownloadedFiles[0].path);
    EXPECT_EQ(TempPathOf(2), DownloadedFiles[1].path);
    EXPECT_FALSE(FileExists(TempPathOf(1)));
    std::string text = ReadWholeFile(log);
    EXPECT_EQ(Line(0, "Done!") + Line(1, "Failed") + "Failed: " + Utf8(TempPathOf(1))
                  + " - SHA-256 mismatch: expected 1111111111111111111111111111111111111111111111111111111111111111, got ",
              text.substr(0, text.find(", got ") + 6));
}

TEST_F(DownloadWorkerRun, AfterACancelTheRowsAheadAreTriedButNotKept)
{
    ModCatalog[0].selected = true;
    ModCatalog[1].selected = true;
    DownloadProgress.cancelRequested = 1;
    RunWorker();
    EXPECT_EQ(2u, DownloadProgress.filesDone.load());
    EXPECT_TRUE(DownloadedFiles.empty());
    EXPECT_EQ(Line(0, "Failed") + Line(1, "Failed"), ReadWholeFile(log));
}

TEST_F(DownloadWorkerRun, AnAnswerWithoutAStatusLineFailsItsRowAndTheLogSaysSo)
{
    ModCatalog[1].selected = true;
    SetServeMode(ServedKeys[1], "bad no-status");
    RunWorker();
    EXPECT_TRUE(DownloadedFiles.empty());
    EXPECT_EQ(ModStage::DownloadFailed, ModOutcomes[1].stage);
    EXPECT_EQ(DownloadFailure::InvalidAnswer, ModOutcomes[1].failure);
    EXPECT_EQ(Line(1, "Failed") + "Failed: " + Utf8(TempPathOf(1))
                  + " - the server's answer was not valid: no status line\r\n",
              ReadWholeFile(log));
}

// Each ends its row at once, with one line that says why; a clock that is off is the one
// a player can mend.
TEST_F(DownloadWorkerRun, EveryDownloadThatFailsSaysWhyOnALineOfItsOwn)
{
    const struct {
        std::wstring redirectedTo;
        DownloadFailure failure;
        std::string why;
    } endings[] = {
        {L"", DownloadFailure::HttpStatus, "the server answered 404 Not Found"},
        {SelfSignedUrl(L"/files/fieldwatch"), DownloadFailure::Untrusted,
         "the server's certificate is not from a trusted authority (ERROR_INTERNET_INVALID_CA)"},
        {UntrustedUrl(L"/files/fieldwatch"), DownloadFailure::Untrusted,
         "the server's certificate is not from a trusted authority, or its issuer could not be "
         "checked (ERROR_INTERNET_SEC_CERT_REV_FAILED)"},
        {OtherHostUrl(L"/files/fieldwatch"), DownloadFailure::CertificateOtherHost,
         "the server's certificate is issued for another host than localhost "
         "(ERROR_INTERNET_SEC_CERT_CN_INVALID)"},
        {ExpiredUrl(L"/files/fieldwatch"), DownloadFailure::CertificateDate,
         "the server's certificate has expired or is not yet valid; check the computer's date "
         "and time (ERROR_INTERNET_SEC_CERT_DATE_INVALID)"},
        {L"http://no-such-host.invalid/fieldwatch", DownloadFailure::NameNotResolved,
         "the host name no-such-host.invalid does not resolve"},
    };
    ModCatalog[1].selected = true;
    for (const auto& ending : endings) {
        SetUp();
        ModCatalog[1].selected = true;
        SetServeMode(ServedKeys[1], ending.redirectedTo.empty()
                                        ? std::string("404")
                                        : "to " + Utf8(ending.redirectedTo));
        RunWorker();
        EXPECT_TRUE(DownloadedFiles.empty());
        EXPECT_EQ(ending.failure, ModOutcomes[1].failure) << ending.why;
        EXPECT_EQ(Line(1, "Failed") + "Failed: " + Utf8(TempPathOf(1)) + " - " + ending.why
                      + "\r\n",
                  ReadWholeFile(log));
        EXPECT_FALSE(FileExists(TempPathOf(1)));
    }
}
