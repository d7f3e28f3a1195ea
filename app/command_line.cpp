#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

namespace {

bool SameText(const std::wstring& a, const wchar_t* b)
{
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b, -1, TRUE) == CSTR_EQUAL;
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool ParseModList(const std::wstring& list, bool (&mods)[ModCount])
{
    for (bool& mod : mods) mod = false;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(L',', start);
        std::wstring item = Trimmed(list.substr(start, comma == std::wstring::npos
                                                           ? std::wstring::npos
                                                           : comma - start));
        bool known = SameText(item, L"all");
        for (int row = 0; row < ModCount; ++row) {
            bool named = SameText(item, ModCatalog[row].key);
            mods[row] = mods[row] || named || SameText(item, L"all");
            known = known || named;
        }
        if (!known) return false;
        if (comma == std::wstring::npos) return true;
        start = comma + 1;
    }
}

}  // namespace

const wchar_t SwitchHelp[] =
    L"使い方: ZelkorsModsPackSetup.exe [オプション]\n"
    L"\n"
    L"/VERYSILENT または /S\n"
    L"    ウィンドウを表示せずにインストールして終了します。\n"
    L"/DIR=\"フォルダ\"\n"
    L"    Steelmarch のフォルダを指定します。\n"
    L"/MODS=一覧\n"
    L"    インストールするMODをカンマ区切りで指定します\n"
    L"    (velloa, fieldwatch, qvx または all)。\n"
    L"/LOG=\"ファイル\"\n"
    L"    ログの保存先を指定します。\n"
    L"/UNINSTALL\n"
    L"    インストールしたMODを取り除き、置き換えた元のファイルを戻します。\n"
    L"/? または /HELP\n"
    L"    この説明を表示します。\n"
    L"\n"
    L"/VERYSILENT の終了コード:\n"
    L"    0  すべてのMODをインストールしました (アンインストール: すべて戻しました)。\n"
    L"    1  インストールを開始できませんでした。\n"
    L"    3  インストールできなかったMODがあります (アンインストール: 残したファイルがあります)。";

bool ParseSwitches(const std::vector<std::wstring>& arguments, Switches& switches,
                   std::wstring& problem)
{
    for (const std::wstring& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
            problem = L"unknown argument " + argument;
            return false;
        }
        size_t equals = argument.find(L'=');
        std::wstring name = argument.substr(1, equals == std::wstring::npos ? std::wstring::npos
                                                                             : equals - 1);
        bool hasValue = equals != std::wstring::npos;
        std::wstring value = hasValue ? argument.substr(equals + 1) : std::wstring();
        // "C:\Games\" on a command line ends in an escaped quote, which stays behind.
        if (!value.empty() && value.back() == L'"') value.pop_back();

        if (SameText(name, L"VERYSILENT") || SameText(name, L"S") || SameText(name, L"?")
            || SameText(name, L"HELP") || SameText(name, L"UNINSTALL")) {
            if (hasValue) {
                problem = L"malformed switch " + argument + L": it takes no value";
                return false;
            }
            if (SameText(name, L"VERYSILENT") || SameText(name, L"S"))
                switches.silent = true;
            else if (SameText(name, L"UNINSTALL"))
                switches.uninstall = true;
            else
                switches.help = true;
        } else if (SameText(name, L"DIR") || SameText(name, L"LOG") || SameText(name, L"MODS")) {
            if (value.empty()) {
                problem = L"malformed switch " + argument + L": it needs a value after =";
                return false;
            }
            if (SameText(name, L"DIR")) {
                switches.folder = value;
            } else if (SameText(name, L"LOG")) {
                switches.logPath = value;
            } else if (!ParseModList(value, switches.mods)) {
                problem = L"malformed switch " + argument
                        + L": the mods are velloa, fieldwatch, qvx or all";
                return false;
            } else {
                switches.modsGiven = true;
            }
        } else {
            problem = L"unknown switch " + argument;
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> ProgramArguments()
{
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(words[i]);
    LocalFree(words);
    return arguments;
}
