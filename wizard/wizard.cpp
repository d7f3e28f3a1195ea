// The wizard frame: a Wizard97 property sheet whose pages are created in a fixed order.
#include "wizard/wizard.h"

#include <commctrl.h>
#include <prsht.h>
#include <vector>

#include "app/state.h"
#include "resources/resource.h"
#include "wizard/compressed_art.h"
#include "wizard/page_common.h"
#include "wizard/page_headers.h"

namespace {

struct PageDescription {
    int templateId;
    DLGPROC handler;
};

// In the order of the header texts (wizard/page_headers).
const PageDescription InstallerPages[] = {
    {IDD_WELCOME, WelcomePage},   {IDD_FOLDER, FolderPage},     {IDD_MODSELECT, ModSelectPage},
    {IDD_CONFIRM, ConfirmPage},   {IDD_DOWNLOAD, DownloadPage}, {IDD_INSTALL, InstallPage},
    {IDD_FINISHED, FinishedPage}, {IDD_FAILED, FailedPage},
};

HPROPSHEETPAGE CreatePage(HINSTANCE instance, int index, const wchar_t* caption)
{
    const PageDescription& description = InstallerPages[index];
    // The exterior pages, with no header texts, hide the header.
    const wchar_t* headerTitle = nullptr;
    const wchar_t* headerSubtitle = nullptr;
    PageHeaderTexts(index, headerTitle, headerSubtitle);
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USETITLE | PSP_USEICONID;
    if (headerTitle)
        page.dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
    else
        page.dwFlags |= PSP_HIDEHEADER;
    page.hInstance = instance;
    page.pszTemplate = MAKEINTRESOURCEW(description.templateId);
    page.pszIcon = MAKEINTRESOURCEW(IDI_APP);
    page.pszTitle = caption;
    page.pfnDlgProc = description.handler;
    page.pszHeaderTitle = headerTitle;
    page.pszHeaderSubTitle = headerSubtitle;
    return CreatePropertySheetPageW(&page);
}

}  // namespace

void RunInstallerWizard(HINSTANCE instance)
{
    wchar_t caption[256];
    wsprintfW(caption, L"%s セットアップ", ProductName);

    std::vector<HPROPSHEETPAGE> pages;
    for (int index = 0; index < (int)(sizeof InstallerPages / sizeof InstallerPages[0]); ++index)
        pages.push_back(CreatePage(instance, index, caption));

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
