#include "wizard/page_headers.h"

namespace {

struct HeaderTexts {
    const wchar_t* title;  // null for the exterior pages, which hide the header
    const wchar_t* subtitle;
};

const HeaderTexts PageHeaders[] = {
    {nullptr, nullptr},  // welcome
    {L"インストール先の選択", L"インストールするフォルダを選択してください。"},
    {L"MODの選択", L"有効にするMODにチェックを入れてください。"},
    {L"インストール内容の確認", L"この内容でインストールします。"},
    {L"ダウンロード中", L"必要なファイルをダウンロードしています。"},
    {L"インストール中", L"インストールしています。しばらくお待ち下さい…"},
    {nullptr, nullptr},  // finished
    {nullptr, nullptr},  // failed
};

}  // namespace

bool PageHeaderTexts(int index, const wchar_t*& title, const wchar_t*& subtitle)
{
    if (index < 0 || index >= (int)(sizeof PageHeaders / sizeof PageHeaders[0])) return false;
    title = PageHeaders[index].title;
    subtitle = PageHeaders[index].subtitle;
    return title != nullptr;
}
