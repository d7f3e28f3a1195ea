// installer.log: truncated per run, UTF-8 whatever the C runtime's locale, CR LF.
#include <windows.h>
#include <gtest/gtest.h>

#include "app/install_log.h"
#include "tests/unit/test_files.h"

TEST(InstallLog, SecondRunKeepsOnlyItsOwnLines)
{
    ScratchFolder scratch;
    std::wstring log = scratch.Sub(L"installer.log");
    ASSERT_TRUE(OpenInstallLog(log.c_str()));
    LogWrite(L"Downloading: %ls - ", L"C:\\first.zip");
    LogWrite(L"Done!\n");
    CloseInstallLog();
    ASSERT_TRUE(OpenInstallLog(log.c_str()));
    LogWrite(L"Delete: %ls\n", L"C:\\second.zip");
    CloseInstallLog();
    EXPECT_EQ("Delete: C:\\second.zip\r\n", ReadWholeFile(log));
}

TEST(InstallLog, JapanesePathLandsAsUtf8WithCrLf)
{
    ScratchFolder scratch;
    std::wstring log = scratch.Sub(L"installer.log");
    ASSERT_TRUE(OpenInstallLog(log.c_str()));
    LogWrite(L"Installing: %ls\n", L"C:\\ゲーム\\mods\\1.8.0.1\\音声.smpkg");
    LogWrite(L"narrow %hs and a number %d\n", "1.8.0.1", 42);
    CloseInstallLog();
    EXPECT_EQ("Installing: C:\\\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\\mods\\1.8.0.1\\"
              "\xE9\x9F\xB3\xE5\xA3\xB0.smpkg\r\n"
              "narrow 1.8.0.1 and a number 42\r\n",
              ReadWholeFile(log));
}

TEST(InstallLog, LongLinesAreWrittenWhole)
{
    ScratchFolder scratch;
    std::wstring log = scratch.Sub(L"installer.log");
    std::wstring longText(5000, L'x');
    ASSERT_TRUE(OpenInstallLog(log.c_str()));
    LogWrite(L"%ls\n", longText.c_str());
    CloseInstallLog();
    std::string bytes = ReadWholeFile(log);
    EXPECT_EQ(5002u, bytes.size());
    EXPECT_TRUE(bytes == std::string(5000, 'x') + "\r\n");
}

TEST(InstallLog, ControlCharactersInsideALineAreEscaped)
{
    ScratchFolder scratch;
    std::wstring log = scratch.Sub(L"installer.log");
    ASSERT_TRUE(OpenInstallLog(log.c_str()));
    LogWrite(L"Installing: %ls\n", L"C:\\g\\mods\\a\r\nInstalling: C:\\forged\t\x1B\x85\x2028.txt");
    LogWrite(L"Downloading: %ls - ", L"C:\\x\n.zip");
    LogWrite(L"Done!\n");
    CloseInstallLog();
    EXPECT_EQ("Installing: C:\\g\\mods\\a\\x0D\\x0AInstalling: C:\\forged\\x09\\x1B\\x85\\u2028.txt\r\n"
              "Downloading: C:\\x\\x0A.zip - Done!\r\n",
              ReadWholeFile(log));
}

TEST(InstallLog, WritesWithoutAnOpenLogGoNowhere)
{
    CloseInstallLog();
    EXPECT_FALSE(InstallLogIsOpen());
    LogWrite(L"nothing %ls\n", L"here");
    ScratchFolder scratch;
    EXPECT_FALSE(OpenInstallLog(scratch.Sub(L"no\\such\\folder\\installer.log").c_str()));
}

TEST(InstallLog, TimesEachWriteOnlyWhenTheEnvironmentAsks)
{
    ScratchFolder scratch;
    std::wstring log = scratch.Sub(L"installer.log");
    SetEnvironmentVariableW(L"INSTALLER_LOG_TIMES", L"1");
    ASSERT_TRUE(OpenInstallLog(log.c_str()));
    SetEnvironmentVariableW(L"INSTALLER_LOG_TIMES", nullptr);
    LogWrite(L"Downloading: %ls - ", L"C:\\a.zip");
    CountDiskFlush();
    CountDiskFlush();
    LogWrite(L"Done!\n");
    CloseInstallLog();
    std::string bytes = ReadWholeFile(log);
    size_t first = bytes.find("] Downloading: C:\\a.zip - [");
    ASSERT_NE(std::string::npos, first);
    EXPECT_EQ('[', bytes[0]);
    EXPECT_EQ(std::string::npos, bytes.substr(1, first - 1).find_first_not_of("0123456789. "));
    EXPECT_EQ(0u, bytes.size() - bytes.find("] Done!\r\n") - 9);
    // The flushes so far follow the time: two more by the second write.
    unsigned before = std::stoul(bytes.substr(bytes.find(' ') + 1));
    unsigned after = std::stoul(bytes.substr(bytes.find(' ', first + 28) + 1));
    EXPECT_EQ(before + 2, after);

    ASSERT_TRUE(OpenInstallLog(log.c_str()));
    LogWrite(L"Delete: %ls\n", L"C:\\a.zip");
    CloseInstallLog();
    EXPECT_EQ("Delete: C:\\a.zip\r\n", ReadWholeFile(log));
}
