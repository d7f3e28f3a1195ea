// The wizard frame: a Wizard97 property sheet whose pages are created in a fixed order.
#include "wizard/wizard.h"

#include <commctrl.h>
#include <prsht.h>
#include <vector>

#include "app/state.h"
#include "resources/resource.h"
#include "wizard/compressed_art.h"
#include "wizard/page_common.h"

namespace {

struct PageDescription {
    int templateId;
    DLGPROC handler;
    const wchar_t* headerTitle;  // null for the exterior pages, which hide the header
    const wchar_t* headerSubtitle;
};

const PageDescription InstallerPages[] = {
    {IDD_WELCOME, WelcomePage, nullptr, nullptr},
    {IDD_FOLDER, FolderPage, L"インストール先の選択",
     L"インストールするフォルダを選択してください。"},
    {IDD_MODSELECT, ModSelectPage, L"MODの選択", L"有効にするMODにチェックを入れてください。"},
    {IDD_CONFIRM, ConfirmPage, L"インストール内容の確認", L"この内容でインストールします。"},
    {IDD_DOWNLOAD, DownloadPage, L"ダウンロード中", L"必要なファイルをダウンロードしています。"},
    {IDD_INSTALL, InstallPage, L"インストール中",
     L"インストールしています。しばらくお待ち下さい…"},
    {IDD_FINISHED, FinishedPage, nullptr, nullptr},
    {IDD_FAILED, FailedPage, nullptr, nullptr},
};

HPROPSHEETPAGE CreatePage(HINSTANCE instance, const PageDescription& description,
                          const wchar_t* caption)
{
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USETITLE | PSP_USEICONID;
    if (description.headerTitle)
        page.dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
    else
        page.dwFlags |= PSP_HIDEHEADER;
    page.hInstance = instance;
    page.pszTemplate = MAKEINTRESOURCEW(description.templateId);
    page.pszIcon = MAKEINTRESOURCEW(IDI_APP);
    page.pszTitle = caption;
    page.pfnDlgProc = description.handler;
    page.pszHeaderTitle = description.headerTitle;
    page.pszHeaderSubTitle = description.headerSubtitle;
    return CreatePropertySheetPageW(&page);
}

}  // namespace

bool PageHeaderTexts(int index, const wchar_t*& title, const wchar_t*& subtitle)
{
    if (index < 0 || index >= (int)(sizeof InstallerPages / sizeof InstallerPages[0])) return false;
    title = InstallerPages[index].headerTitle;
    subtitle = InstallerPages[index].headerSubtitle;
    return title != nullptr;
}

void RunInstallerWizard(HINSTANCE instance)
{
    wchar_t caption[256];
    wsprintfW(caption, L"%s セットアップ", ProductName);

    std::vector<HPROPSHEETPAGE> pages;
    for (const PageDescription& description : InstallerPages)
        pages.push_back(CreatePage(instance, description, caption));

    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    // The pictures go in as handles: the sheet reads only bitmap resources, and these are
    // stored compressed (Wine draws no header bitmap named by resource id either).
    HBITMAP watermark = LoadCompressedArt(instance, IDB_WATERMARK);
    HBITMAP headerBitmap = LoadCompressedArt(instance, IDB_HEADER);
    header.dwFlags = PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER | PSH_USEHICON | PSH_NOMARGIN
                   | PSH_USEHBMWATERMARK | PSH_USEHBMHEADER;
    header.hwndParent = nullptr;
    header.hInstance = instance;
    header.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    header.pszCaption = L"TITLE";
    header.nPages = (UINT)pages.size();
    header.nStartPage = 0;
    header.phpage = pages.data();
    header.hbmWatermark = watermark;
    header.hbmHeader = headerBitmap;
    PropertySheetW(&header);
    if (watermark) DeleteObject(watermark);
    if (headerBitmap) DeleteObject(headerBitmap);
}
