// The mod selection page: one check box per catalogue row, the description of the
// row under the caret, and Next only with at least one row ticked.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "mods/catalog.h"
#include "resources/resource.h"
#include "wizard/page_common.h"
#include "wizard/wizard.h"

// Only the unticked box (state image 1) means "not selected"; an item that lost its
// check box image altogether (0) counts as ticked.
bool IsTickedStateImage(unsigned stateImage)
{
    return stateImage != 1;
}

namespace {

HTREEITEM ModItems[ModCount];

void FillModTree(HWND page)
{
    HWND tree = GetDlgItem(page, IDC_MOD_TREE);
    // Check boxes given by the template are set up again later, every item unticked;
    // set up now, before the items exist, they keep the ticks given below.
    LONG_PTR style = GetWindowLongPtrW(tree, GWL_STYLE);
    SetWindowLongPtrW(tree, GWL_STYLE, style & ~TVS_CHECKBOXES);
    SetWindowLongPtrW(tree, GWL_STYLE, style | TVS_CHECKBOXES);
    for (int i = 0; i < ModCount; ++i) {
        wchar_t text[256];
        wsprintfW(text, L"%s", ModCatalog[i].displayName);
        TVINSERTSTRUCTW insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = text;
        insert.item.lParam = i;
        ModItems[i] = (HTREEITEM)SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
    }
}

// Rows named on the command line start ticked.
void TickSelectedRows(HWND page)
{
    HWND tree = GetDlgItem(page, IDC_MOD_TREE);
    for (int i = 0; i < ModCount; ++i) {
        if (!ModCatalog[i].selected) continue;
        TVITEMW tick = {};
        tick.mask = TVIF_HANDLE | TVIF_STATE;
        tick.hItem = ModItems[i];
        tick.state = INDEXTOSTATEIMAGEMASK(2);
        tick.stateMask = TVIS_STATEIMAGEMASK;
        SendMessageW(tree, TVM_SETITEMW, 0, (LPARAM)&tick);
    }
}

void ShowCaretDescription(HWND page)
{
    HWND tree = GetDlgItem(page, IDC_MOD_TREE);
    HTREEITEM caret = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (!caret) {
        SetDlgItemTextW(page, IDC_MOD_DESCRIPTION, L"ここにMODの説明が表示されます。");
        return;
    }
    TVITEMW item = {};
    item.mask = TVIF_PARAM;
    item.hItem = caret;
    SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&item);
    if (item.lParam >= 0 && item.lParam < ModCount)
        SetDlgItemTextW(page, IDC_MOD_DESCRIPTION, ModCatalog[item.lParam].description);
}

void OnModSelectNext(HWND page)
{
    HWND tree = GetDlgItem(page, IDC_MOD_TREE);
    for (int i = 0; i < ModCount; ++i) {
        LRESULT state = SendMessageW(tree, TVM_GETITEMSTATE, (WPARAM)ModItems[i],
                                     TVIS_STATEIMAGEMASK);
        ModCatalog[i].selected = IsTickedStateImage((unsigned)(state >> 12) & 0xF);
    }
    if (SelectedModCount() > 0) return;
    MessageBoxW(page, L"少なくとも1つはチェックする必要があります。", nullptr,
                MB_ICONERROR | MB_OK);
    SetPageResult(page, StayOnPage);
}

void OnModSelectNotify(HWND page, const NMHDR* header)
{
    switch (header->code) {
    case TVN_SELCHANGEDW:
        ShowCaretDescription(page);
        break;
    case PSN_SETACTIVE:
        SetWizardButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
        break;
    case PSN_WIZNEXT:
        OnModSelectNext(page);
        break;
    case PSN_QUERYCANCEL:
        AskCancelSetup(page);
        break;
    }
}

}  // namespace

INT_PTR CALLBACK ModSelectPage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        FillModTree(page);
        TickSelectedRows(page);
        return TRUE;
    case WM_NOTIFY:
        OnModSelectNotify(page, (const NMHDR*)lParam);
        return TRUE;
    }
    return FALSE;
}
