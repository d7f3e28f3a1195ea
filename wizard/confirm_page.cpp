// The confirmation page: a read-only summary of the ticked mods, rebuilt each time
// the page is shown so that it never keeps a line from an earlier visit.
#include <windows.h>
#include <prsht.h>

#include "mods/catalog.h"
#include "resources/resource.h"
#include "wizard/page_common.h"
#include "wizard/wizard.h"

const wchar_t SummaryHeader[] =
    L"以下の内容でインストールします。\r\n"
    L"続行するには「次へ」を押してください。\r\n"
    L"-----------------------------------------------------\r\n";

std::vector<std::wstring> SummaryLines()
{
    std::vector<std::wstring> lines;
    for (const ModEntry& mod : ModCatalog) {
        if (!mod.selected) continue;
        wchar_t line[256];
        wsprintfW(line, L"%s\r\n", mod.displayName);
        lines.push_back(line);
    }
    return lines;
}

namespace {

void AppendSummaryLine(HWND page, const wchar_t* line)
{
    int end = GetWindowTextLengthW(GetDlgItem(page, IDC_CONFIRM_SUMMARY));
    SendDlgItemMessageW(page, IDC_CONFIRM_SUMMARY, EM_SETSEL, end, end);
    SendDlgItemMessageW(page, IDC_CONFIRM_SUMMARY, EM_REPLACESEL, FALSE, (LPARAM)line);
}

void RebuildSummary(HWND page)
{
    SetDlgItemTextW(page, IDC_CONFIRM_SUMMARY, SummaryHeader);
    for (const std::wstring& line : SummaryLines()) AppendSummaryLine(page, line.c_str());
}

void OnConfirmNotify(HWND page, const NMHDR* header)
{
    switch (header->code) {
    case PSN_SETACTIVE:
        SetWizardButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
        RebuildSummary(page);
        break;
    case PSN_QUERYCANCEL:
        AskCancelSetup(page);
        break;
    }
}

}  // namespace

INT_PTR CALLBACK ConfirmPage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_NOTIFY:
        OnConfirmNotify(page, (const NMHDR*)lParam);
        return TRUE;
    }
    return FALSE;
}
