// The selection rules the pages apply: check box state images and the summary.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "mods/catalog.h"
#include "mods/mod_outcome.h"
#include "wizard/wizard.h"

namespace {

void Select(bool first, bool second, bool third)
{
    ModCatalog[0].selected = first;
    ModCatalog[1].selected = second;
    ModCatalog[2].selected = third;
}

std::wstring Joined(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines) text += line;
    return text;
}

}  // namespace

TEST(Catalogue, RowsInTheirFixedOrder)
{
    EXPECT_STREQ(L"brassfinch Velloa SimpleVoice", ModCatalog[0].displayName);
    EXPECT_STREQ(L"brassfinch.velloa_simple_voice_mod_2017.2.smpkg", ModCatalog[0].fileName);
    EXPECT_FALSE(ModCatalog[0].isArchive);
    EXPECT_STREQ(L"Fieldwatch", ModCatalog[1].description);
    EXPECT_TRUE(ModCatalog[1].isArchive);
    EXPECT_STREQ(L"Offcial QVX", ModCatalog[2].description);
    EXPECT_STREQ(L"qvx-8.3.5.zip", ModCatalog[2].fileName);
    EXPECT_EQ(0, wcsncmp(ModCatalog[0].url, L"https://", 8));
    EXPECT_EQ(0, wcsncmp(ModCatalog[1].url, L"http://", 7));
    EXPECT_EQ(0, wcsncmp(ModCatalog[2].url, L"https://", 8));
}

TEST(ModSelection, OnlyTheUntickedBoxMeansNotSelected)
{
    EXPECT_FALSE(IsTickedStateImage(1));
    EXPECT_TRUE(IsTickedStateImage(2));
    EXPECT_TRUE(IsTickedStateImage(0)) << "an item without a box image counts as ticked";
}

TEST(ModSelection, SelectedCountFollowsTheFlags)
{
    Select(false, false, false);
    EXPECT_EQ(0, SelectedModCount());
    Select(false, false, true);
    EXPECT_EQ(1, SelectedModCount());
    Select(true, true, true);
    EXPECT_EQ(3, SelectedModCount());
}

TEST(ConfirmSummary, OneLinePerSelectedRowInCatalogueOrder)
{
    EXPECT_STREQ(L"以下の内容でインストールします。\r\n続行するには「次へ」を押してください。\r\n"
                 L"-----------------------------------------------------\r\n",
                 SummaryHeader);
    Select(false, true, false);
    EXPECT_EQ(L"Fieldwatch\r\n", Joined(SummaryLines()));
    Select(true, false, true);
    EXPECT_EQ(L"brassfinch Velloa SimpleVoice\r\nQVX\r\n", Joined(SummaryLines()));
    Select(true, true, true);
    EXPECT_EQ(3u, SummaryLines().size());
    Select(false, false, false);
    EXPECT_TRUE(SummaryLines().empty());
}

// The failed page's lines: one per ticked row in catalogue order, a first line when
// the user cancelled, and each reason in words.
TEST(FailedPageOutcome, OneLinePerTickedRowWithItsReason)
{
    Select(true, true, true);
    SetupCancelled = false;
    ModOutcomes[0] = {ModStage::Installed};
    ModOutcomes[1] = {ModStage::DownloadFailed, DownloadFailure::HttpStatus, 404};
    ModOutcomes[2] = {ModStage::InstallFailed, DownloadFailure::None, 0, 3};
    std::vector<std::wstring> expected = {
        L"brassfinch Velloa SimpleVoice: インストール完了",
        L"Fieldwatch: ダウンロード失敗（HTTP 404）",
        L"QVX: インストール失敗（3 個のファイル）",
    };
    EXPECT_EQ(expected, OutcomeLines());

    const std::pair<DownloadFailure, const wchar_t*> reasons[] = {
        {DownloadFailure::TimedOut, L"タイムアウト"},
        {DownloadFailure::CouldNotConnect, L"接続できません"},
        {DownloadFailure::Untrusted, L"証明書の発行元を信頼できません"},
        {DownloadFailure::CertificateOtherHost, L"証明書が別のサーバーのものです"},
        {DownloadFailure::CertificateDate,
         L"証明書の有効期限外です。パソコンの日付と時刻を確認してください"},
        {DownloadFailure::CertificateRevoked, L"証明書が失効しています"},
        {DownloadFailure::CertificateInvalid, L"証明書が正しくありません"},
        {DownloadFailure::CutShort, L"途中で切断されました"},
        {DownloadFailure::HashMismatch, L"ファイルの内容が一致しません"},
        {DownloadFailure::Downgraded, L"http へ転送されました"},
    };
    Select(false, true, false);
    for (const auto& reason : reasons) {
        ModOutcomes[1] = {ModStage::DownloadFailed, reason.first};
        EXPECT_EQ(std::vector<std::wstring>{L"Fieldwatch: ダウンロード失敗（" + std::wstring(reason.second) + L"）"},
                  OutcomeLines());
    }

    // Cancelled before any download: said first, then every ticked row.
    Select(true, false, true);
    SetupCancelled = true;
    for (ModOutcome& outcome : ModOutcomes) outcome = ModOutcome();
    expected = {L"インストールはキャンセルされました。",
                L"brassfinch Velloa SimpleVoice: キャンセルのため未インストール",
                L"QVX: キャンセルのため未インストール"};
    EXPECT_EQ(expected, OutcomeLines());
    SetupCancelled = false;
    for (ModOutcome& outcome : ModOutcomes) outcome = ModOutcome();
    Select(false, false, false);
}

TEST(CommandLine, SwitchesAsInstallersTakeThem)
{
    Switches none;
    std::wstring problem;
    EXPECT_TRUE(ParseSwitches({}, none, problem));
    EXPECT_FALSE(none.silent || none.help || none.modsGiven);
    EXPECT_TRUE(none.folder.empty() && none.logPath.empty());

    Switches all;
    ASSERT_TRUE(ParseSwitches({L"/verysilent", L"/Dir=C:\\Games\\Steel march\"",
                               L"/MODS=Velloa, qvx", L"/log=D:\\install.log"},
                              all, problem))
        << problem;
    EXPECT_TRUE(all.silent);
    EXPECT_EQ(L"C:\\Games\\Steel march", all.folder) << "the quote a trailing \\\" leaves";
    EXPECT_TRUE(all.modsGiven);
    EXPECT_TRUE(all.mods[0] && !all.mods[1] && all.mods[2]);
    EXPECT_EQ(L"D:\\install.log", all.logPath);

    Switches shortForm;
    EXPECT_TRUE(ParseSwitches({L"/s", L"/MODS=all"}, shortForm, problem));
    EXPECT_TRUE(shortForm.silent && shortForm.mods[0] && shortForm.mods[1] && shortForm.mods[2]);
    for (const wchar_t* help : {L"/?", L"/HELP", L"/help"}) {
        Switches asked;
        EXPECT_TRUE(ParseSwitches({help}, asked, problem));
        EXPECT_TRUE(asked.help) << help;
    }

    const std::pair<const wchar_t*, const wchar_t*> refused[] = {
        {L"/QUIET", L"unknown switch /QUIET"},
        {L"setup", L"unknown argument setup"},
        {L"/MODS=velloa,,qvx", L"malformed switch /MODS=velloa,,qvx: the mods are velloa, "
                               L"fieldwatch, qvx or all"},
        {L"/MODS=tanks", L"malformed switch /MODS=tanks: the mods are velloa, fieldwatch, qvx "
                         L"or all"},
        {L"/DIR=", L"malformed switch /DIR=: it needs a value after ="},
        {L"/LOG", L"malformed switch /LOG: it needs a value after ="},
        {L"/S=1", L"malformed switch /S=1: it takes no value"},
    };
    for (const auto& bad : refused) {
        Switches switches;
        EXPECT_FALSE(ParseSwitches({L"/VERYSILENT", bad.first}, switches, problem)) << bad.first;
        EXPECT_EQ(bad.second, problem);
    }
}
