// The selection rules the pages apply: check box state images and the summary.
#include <gtest/gtest.h>

#include "mods/catalog.h"
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
