// guidriver: works the installer's windows from outside, the way a user would, and
// reports what it sees. It runs one command per invocation so that a test script can
// interleave its own checks; it creates no window of its own.
//
// Exit code: 0 done (or the checked fact holds), 1 a check failed or a wait timed
// out, 2 bad usage. Output is UTF-8, one fact per line. Texts are escaped: a line
// break is written \n, a carriage return \r, a tab \t and a backslash \\.
// Ids are decimal or 0x-prefixed hexadecimal; MS is a timeout in milliseconds.
//
// The wizard is the visible top-level dialog that has a Next button (0x3024): its
// window text is the page title, never a fixed caption. A message box is a visible
// top-level dialog holding the text static 0xFFFF and nothing but statics and buttons.
//
//   wait-sheet MS             the wizard is shown; prints the current page's id
//   wait-closed MS            no wizard any more
//   title                     prints the wizard's window text
//   page                      prints the current page's dialog template id
//   wait-page ID MS           the current page is ID
//   text ID                   prints a control's text (current page first, then sheet)
//   set-text ID TEXT          replaces a control's text, as typing would
//   button NAME               prints "visible=0|1 enabled=0|1 text=..." of a sheet
//                             button: back, next, finish, cancel or an id
//   press NAME                clicks a visible, enabled sheet button
//   msgbox MS                 waits for a message box and prints caption=, text=,
//                             icon=error|question|warning|info|none,
//                             buttons=ok|yes,no|..., owner=none|sheet|page|other
//   no-msgbox MS              succeeds if no message box shows within MS
//   wait-msgbox-closed MS     the message box has gone
//   answer NAME               clicks a message box button: ok, cancel, yes, no, ...
//   tree ID                   prints the root items of a tree view on the current
//                             page: "index<TAB>state image<TAB>text"
//   tree-select ID INDEX      selects a root item
//   tree-toggle ID INDEX      selects a root item and presses the space bar on it;
//                             prints the new state image
//   rect [sheet|msgbox]       prints the window's screen rectangle "x y w h"
//   wait-process NAME MS      a process whose exe is NAME (any case) is running
//   wait-process-gone NAME MS no such process any more
//   temp-path                 prints the folder GetTempPath gives in this prefix
//   windows                   lists the top-level windows (for diagnosis)
//   click ID                  clicks a visible, enabled control of the current page
//   type ID TEXT              types TEXT into a control of the current page
//   tree-caret ID             prints the index of the root item under the caret, or -1
//   chooser MS                waits for the folder chooser (SHBrowseForFolder), and up
//                             to 3 s for its starting selection, and prints
//                             title=, static= (each visible text), owner=,
//                             owner-enabled=0|1, selected= (the caret item's texts from
//                             the top of the tree, tab-separated) and rect=x y w h
//   chooser-select TEXT...    opens the chooser's tree item by item along the texts
//                             (the first names a top item) and selects the last
//   chooser-answer NAME       clicks a chooser button: ok, cancel
//   wait-chooser-closed MS    the folder chooser has gone
//   progress ID               prints a progress bar's "pos=N min=N max=N marquee=0|1"
//   close                     clicks the wizard's close box (title bar)
//   ping MS COUNT [samples]   sends the wizard a message that does nothing COUNT times,
//                             one every MS ms, and prints the answer times: "count=N
//                             p50=X p99=X max=X timeouts=N" (ms; an answer taking over
//                             a second is a time-out); "samples" first lists them all
//   created-pages             prints the ids of the pages shown so far (their windows
//                             exist), in the wizard's order, on one line
//   focus                     prints the control with the keyboard focus on the
//                             wizard's thread: "id class where" (where: page|sheet|other)
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

enum ExitCode { Done = 0, CheckFailed = 1, BadUsage = 2 };

// Long enough for a busy wizard, short enough that a hung one fails the test soon.
constexpr UINT ReplyTimeoutMs = 3000;
constexpr DWORD PollIntervalMs = 20;

constexpr int NextButtonId = 0x3024;
constexpr int MessageTextId = 0xFFFF;

// ---- output --------------------------------------------------------------------

// Straight to the handle: the C runtime's locale would drop the Japanese.
void WriteUtf8(HANDLE output, const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0,
                                   nullptr, nullptr);
    if (size <= 0) return;
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], size, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(output, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
}

void PrintLine(const std::wstring& line)
{
    WriteUtf8(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\r\n");
}

// Errors go to stderr so that stdout stays parseable.
void Complain(const std::wstring& line)
{
    WriteUtf8(GetStdHandle(STD_ERROR_HANDLE), L"guidriver: " + line + L"\r\n");
}

std::wstring Escaped(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        default: out += c;
        }
    }
    return out;
}

// ---- arguments -------------------------------------------------------------------

bool ParseNumber(const wchar_t* text, long& value)
{
    wchar_t* end = nullptr;
    value = std::wcstol(text, &end, 0);
    return end != text && *end == L'\0';
}

bool ParseTimeout(const wchar_t* text, DWORD& ms)
{
    long value = 0;
    if (!ParseNumber(text, value) || value < 0) return false;
    ms = (DWORD)value;
    return true;
}

// ---- waiting ---------------------------------------------------------------------

// Checks at once, then every poll interval until the timeout; a timeout of 0 checks once.
bool WaitUntil(DWORD timeoutMs, const std::function<bool()>& fact)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (fact()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(PollIntervalMs);
    }
}

// ---- talking to windows of another process ------------------------------------------

// A window of another process may be busy or hung: never wait for it for ever.
bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    DWORD_PTR reply = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                             ReplyTimeoutMs, &reply))
        return false;
    result = (LRESULT)reply;
    return true;
}

LRESULT AskOrZero(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    return Ask(window, message, wParam, lParam, result) ? result : 0;
}

std::wstring WindowText(HWND window)
{
    LRESULT length = AskOrZero(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buffer((size_t)length + 64, L'\0');
    LRESULT copied = AskOrZero(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data());
    return std::wstring(buffer.data(), (size_t)copied);
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

bool IsDialog(HWND window)
{
    return ClassName(window) == L"#32770";
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            ((std::vector<HWND>*)list)->push_back(window);
            return TRUE;
        },
        (LPARAM)&windows);
    return windows;
}

std::vector<HWND> DirectChildren(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// ---- the wizard ------------------------------------------------------------------

bool IsSheet(HWND window)
{
    return IsWindowVisible(window) && IsDialog(window) && GetDlgItem(window, NextButtonId);
}

HWND FindSheet()
{
    for (HWND window : TopLevelWindows())
        if (IsSheet(window)) return window;
    return nullptr;
}

HWND CurrentPage(HWND sheet)
{
    return (HWND)AskOrZero(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
}

// A page is known by its dialog template id, which stays put when pages are added.
int CurrentPageId(HWND sheet)
{
    HWND page = CurrentPage(sheet);
    if (!page) return 0;
    LRESULT index = -1;
    if (!Ask(sheet, PSM_HWNDTOINDEX, (WPARAM)page, 0, index) || index < 0) return 0;
    return (int)AskOrZero(sheet, PSM_INDEXTOID, (WPARAM)index, 0);
}

// The page's controls come first; the sheet's own (its buttons, 0x3020…) after them.
HWND FindControl(HWND sheet, int id)
{
    HWND page = CurrentPage(sheet);
    HWND control = page ? GetDlgItem(page, id) : nullptr;
    return control ? control : GetDlgItem(sheet, id);
}

struct NamedId {
    const wchar_t* name;
    int id;
};

const NamedId SheetButtons[] = {
    {L"back", 0x3023}, {L"next", 0x3024}, {L"finish", 0x3025}, {L"cancel", IDCANCEL},
};

const NamedId MessageBoxButtons[] = {
    {L"ok", IDOK},         {L"cancel", IDCANCEL}, {L"abort", IDABORT},
    {L"retry", IDRETRY},   {L"ignore", IDIGNORE}, {L"yes", IDYES},
    {L"no", IDNO},         {L"close", 8},         {L"help", 9},
    {L"tryagain", 10},     {L"continue", 11},
};

template <size_t N>
bool IdForName(const NamedId (&table)[N], const wchar_t* name, int& id)
{
    for (const NamedId& entry : table) {
        if (lstrcmpiW(entry.name, name) == 0) {
            id = entry.id;
            return true;
        }
    }
    long number = 0;
    if (!ParseNumber(name, number)) return false;
    id = (int)number;
    return true;
}

template <size_t N>
std::wstring NameForId(const NamedId (&table)[N], int id)
{
    for (const NamedId& entry : table)
        if (entry.id == id) return entry.name;
    return std::to_wstring(id);
}

// A click lands only on what a user could click.
bool IsClickable(HWND button)
{
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

// Posted, not sent: the click may open a modal message box, whose loop would hold a
// sent message until the box closes.
void Click(HWND button)
{
    PostMessageW(button, BM_CLICK, 0, 0);
}

// ---- message boxes ---------------------------------------------------------------

bool HoldsOnlyStaticsAndButtons(HWND window)
{
    for (HWND child : DirectChildren(window)) {
        std::wstring name = ClassName(child);
        if (lstrcmpiW(name.c_str(), L"Static") != 0 && lstrcmpiW(name.c_str(), L"Button") != 0)
            return false;
    }
    return true;
}

bool IsMessageBox(HWND window)
{
    return IsWindowVisible(window) && IsDialog(window) && !GetDlgItem(window, NextButtonId)
        && GetDlgItem(window, MessageTextId) && HoldsOnlyStaticsAndButtons(window);
}

HWND FindMessageBox()
{
    for (HWND window : TopLevelWindows())
        if (IsMessageBox(window)) return window;
    return nullptr;
}

HWND IconStatic(HWND box)
{
    for (HWND child : DirectChildren(box)) {
        if (lstrcmpiW(ClassName(child).c_str(), L"Static") != 0) continue;
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
    }
    return nullptr;
}

// Paints an icon onto a plain background, the way the box's static shows it.
std::vector<COLORREF> RenderIcon(HICON icon, int width, int height, COLORREF background)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(memory, x, y));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::vector<COLORREF> ScreenPixels(const RECT& area)
{
    HDC screen = GetDC(nullptr);
    std::vector<COLORREF> pixels;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) pixels.push_back(GetPixel(screen, x, y));
    ReleaseDC(nullptr, screen);
    return pixels;
}

long long ColourDistance(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b)
{
    if (a.size() != b.size() || a.empty()) return -1;
    long long sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += std::abs(GetRValue(a[i]) - GetRValue(b[i]));
        sum += std::abs(GetGValue(a[i]) - GetGValue(b[i]));
        sum += std::abs(GetBValue(a[i]) - GetBValue(b[i]));
    }
    return sum;
}

struct StockIcon {
    const wchar_t* name;
    LPCWSTR id;
};

const StockIcon MessageBoxIcons[] = {
    {L"error", IDI_HAND},
    {L"question", IDI_QUESTION},
    {L"warning", IDI_EXCLAMATION},
    {L"info", IDI_ASTERISK},
};

// The stock icon that looks like the pixels shown, or "" when none is close: the
// static may not be painted yet.
std::wstring ClosestStockIcon(const std::vector<COLORREF>& shown, int width, int height)
{
    // Icon corners are transparent, so the first pixel is the static's background.
    COLORREF background = shown.front();
    std::wstring best;
    long long bestDistance = -1;
    for (const StockIcon& stock : MessageBoxIcons) {
        std::vector<COLORREF> drawn =
            RenderIcon(LoadIconW(nullptr, stock.id), width, height, background);
        long long distance = ColourDistance(shown, drawn);
        if (distance >= 0 && (bestDistance < 0 || distance < bestDistance)) {
            bestDistance = distance;
            best = stock.name;
        }
    }
    long long ceiling = 6LL * width * height;  // an average of 2 per colour channel
    return bestDistance >= 0 && bestDistance <= ceiling ? best : L"";
}

// Icon handles are per process under Wine, so the box's own handle cannot be compared
// with ours; what the user sees can: the static's pixels against each stock icon
// drawn the same size.
std::wstring IconKind(HWND box)
{
    HWND icon = IconStatic(box);
    if (!icon || !IsWindowVisible(icon) || !AskOrZero(icon, STM_GETICON, 0, 0)) return L"none";
    RECT area;
    GetWindowRect(icon, &area);
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) return L"unknown";
    std::wstring kind;
    WaitUntil(ReplyTimeoutMs,
              [&] { return !(kind = ClosestStockIcon(ScreenPixels(area), width, height)).empty(); });
    return kind.empty() ? L"unknown" : kind;
}

bool LeftOf(HWND a, HWND b)
{
    RECT ra, rb;
    GetWindowRect(a, &ra);
    GetWindowRect(b, &rb);
    return ra.left < rb.left;
}

std::wstring ButtonList(HWND box)
{
    std::vector<HWND> buttons;
    for (HWND child : DirectChildren(box))
        if (lstrcmpiW(ClassName(child).c_str(), L"Button") == 0 && IsWindowVisible(child))
            buttons.push_back(child);
    for (size_t i = 1; i < buttons.size(); ++i)
        for (size_t j = i; j > 0 && LeftOf(buttons[j], buttons[j - 1]); --j)
            std::swap(buttons[j], buttons[j - 1]);
    std::wstring list;
    for (HWND button : buttons) {
        if (!list.empty()) list += L",";
        list += NameForId(MessageBoxButtons, GetDlgCtrlID(button));
    }
    return list.empty() ? L"none" : list;
}

// A dialog's owner is always a top-level window, so a box asked for by a page is
// owned by the sheet; "page" would show a box owned by a page made top-level.
std::wstring OwnerKind(HWND box)
{
    HWND owner = GetWindow(box, GW_OWNER);
    if (!owner) return L"none";
    HWND sheet = FindSheet();
    if (owner == sheet) return L"sheet";
    if (sheet && owner == CurrentPage(sheet)) return L"page";
    return L"other";
}

// ---- tree views ------------------------------------------------------------------

// Memory inside the process that owns a window, for messages that carry pointers.
class RemoteMemory {
public:
    RemoteMemory(HWND window, SIZE_T size)
    {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                              FALSE, processId);
        if (process)
            base = (BYTE*)VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                         PAGE_READWRITE);
    }
    ~RemoteMemory()
    {
        if (base) VirtualFreeEx(process, base, 0, MEM_RELEASE);
        if (process) CloseHandle(process);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    bool Usable() const { return base != nullptr; }
    BYTE* At(SIZE_T offset) const { return base + offset; }
    bool Write(const void* remote, const void* local, SIZE_T size) const
    {
        return WriteProcessMemory(process, (void*)remote, local, size, nullptr) != FALSE;
    }
    bool Read(const void* remote, void* local, SIZE_T size) const
    {
        return ReadProcessMemory(process, remote, local, size, nullptr) != FALSE;
    }

private:
    HANDLE process = nullptr;
    BYTE* base = nullptr;
};

std::vector<HTREEITEM> RootItems(HWND tree)
{
    std::vector<HTREEITEM> items;
    auto item = (HTREEITEM)AskOrZero(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    while (item && items.size() < 10000) {
        items.push_back(item);
        item = (HTREEITEM)AskOrZero(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item);
    }
    return items;
}

int StateImage(HWND tree, HTREEITEM item)
{
    return (int)((AskOrZero(tree, TVM_GETITEMSTATE, (WPARAM)item, TVIS_STATEIMAGEMASK)
                  & TVIS_STATEIMAGEMASK) >> 12);
}

std::wstring ItemText(HWND tree, HTREEITEM item)
{
    constexpr int TextChars = 1024;
    const SIZE_T textOffset = (sizeof(TVITEMW) + 15) & ~(SIZE_T)15;
    RemoteMemory memory(tree, textOffset + TextChars * sizeof(wchar_t));
    if (!memory.Usable()) return L"";

    TVITEMW request = {};
    request.mask = TVIF_TEXT | TVIF_HANDLE;
    request.hItem = item;
    request.pszText = (LPWSTR)memory.At(textOffset);
    request.cchTextMax = TextChars;
    if (!memory.Write(memory.At(0), &request, sizeof request)) return L"";
    if (!AskOrZero(tree, TVM_GETITEMW, 0, (LPARAM)memory.At(0))) return L"";

    // The control may point pszText at its own copy instead of filling ours.
    TVITEMW answer = {};
    if (!memory.Read(memory.At(0), &answer, sizeof answer) || !answer.pszText) return L"";
    std::vector<wchar_t> text(TextChars + 1, L'\0');
    if (!memory.Read(answer.pszText, text.data(), TextChars * sizeof(wchar_t))) return L"";
    return text.data();
}

HWND FindTree(long id)
{
    HWND sheet = FindSheet();
    HWND tree = sheet ? FindControl(sheet, (int)id) : nullptr;
    if (!tree) Complain(L"no control " + std::to_wstring(id) + L" on the current page");
    return tree;
}

bool SelectItem(HWND tree, HTREEITEM item)
{
    LRESULT result = 0;
    return Ask(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item, result) && result;
}

// The keyboard message pair a real key press produces, scan code and all.
void PressSpace(HWND tree)
{
    constexpr LPARAM scanCode = 0x39 << 16;
    PostMessageW(tree, WM_KEYDOWN, VK_SPACE, 1 | scanCode);
    PostMessageW(tree, WM_KEYUP, VK_SPACE, 1 | scanCode | (1u << 30) | (1u << 31));
}

// ---- processes -------------------------------------------------------------------

bool IsProcessRunning(const wchar_t* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry))
        running = lstrcmpiW(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return running;
}

// ---- commands --------------------------------------------------------------------

using Arguments = std::vector<const wchar_t*>;

int Timeout(const wchar_t* text, DWORD& ms)
{
    if (ParseTimeout(text, ms)) return Done;
    Complain(L"not a timeout: " + std::wstring(text));
    return BadUsage;
}

int WaitSheet(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[0], ms)) return bad;
    HWND sheet = nullptr;
    if (!WaitUntil(ms, [&] { return (sheet = FindSheet()) && CurrentPage(sheet); })) {
        Complain(L"no wizard within " + std::to_wstring(ms) + L" ms");
        return CheckFailed;
    }
    PrintLine(std::to_wstring(CurrentPageId(sheet)));
    return Done;
}

int WaitClosed(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[0], ms)) return bad;
    if (WaitUntil(ms, [] { return FindSheet() == nullptr; })) return Done;
    Complain(L"the wizard is still open after " + std::to_wstring(ms) + L" ms");
    return CheckFailed;
}

HWND SheetOrComplain()
{
    HWND sheet = FindSheet();
    if (!sheet) Complain(L"no wizard");
    return sheet;
}

int PrintTitle(const Arguments&)
{
    HWND sheet = SheetOrComplain();
    if (!sheet) return CheckFailed;
    PrintLine(Escaped(WindowText(sheet)));
    return Done;
}

int PrintPage(const Arguments&)
{
    HWND sheet = SheetOrComplain();
    if (!sheet) return CheckFailed;
    PrintLine(std::to_wstring(CurrentPageId(sheet)));
    return Done;
}

int WaitPage(const Arguments& args)
{
    long wanted = 0;
    DWORD ms = 0;
    if (!ParseNumber(args[0], wanted)) return BadUsage;
    if (int bad = Timeout(args[1], ms)) return bad;
    int seen = 0;
    bool reached = WaitUntil(ms, [&] {
        HWND sheet = FindSheet();
        seen = sheet ? CurrentPageId(sheet) : 0;
        return seen == wanted;
    });
    if (reached) return Done;
    Complain(L"page " + std::to_wstring(seen) + L" instead of " + std::to_wstring(wanted));
    return CheckFailed;
}

HWND ControlOrComplain(const wchar_t* idText)
{
    long id = 0;
    if (!ParseNumber(idText, id)) {
        Complain(L"not an id: " + std::wstring(idText));
        return nullptr;
    }
    HWND sheet = SheetOrComplain();
    HWND control = sheet ? FindControl(sheet, (int)id) : nullptr;
    if (sheet && !control) Complain(L"no control " + std::wstring(idText));
    return control;
}

int PrintText(const Arguments& args)
{
    HWND control = ControlOrComplain(args[0]);
    if (!control) return CheckFailed;
    PrintLine(Escaped(WindowText(control)));
    return Done;
}

int SetText(const Arguments& args)
{
    HWND control = ControlOrComplain(args[0]);
    if (!control) return CheckFailed;
    LRESULT result = 0;
    if (Ask(control, WM_SETTEXT, 0, (LPARAM)args[1], result) && result) return Done;
    Complain(L"the control refused the text");
    return CheckFailed;
}

HWND SheetButtonOrComplain(const wchar_t* name)
{
    int id = 0;
    if (!IdForName(SheetButtons, name, id)) {
        Complain(L"no such button: " + std::wstring(name));
        return nullptr;
    }
    HWND sheet = SheetOrComplain();
    HWND button = sheet ? GetDlgItem(sheet, id) : nullptr;
    if (sheet && !button) Complain(L"the wizard has no button " + std::wstring(name));
    return button;
}

int PrintButton(const Arguments& args)
{
    HWND button = SheetButtonOrComplain(args[0]);
    if (!button) return CheckFailed;
    PrintLine(L"visible=" + std::to_wstring(IsWindowVisible(button) ? 1 : 0)
              + L" enabled=" + std::to_wstring(IsWindowEnabled(button) ? 1 : 0)
              + L" text=" + Escaped(WindowText(button)));
    return Done;
}

int Press(const Arguments& args)
{
    HWND button = SheetButtonOrComplain(args[0]);
    if (!button) return CheckFailed;
    if (!IsClickable(button)) {
        Complain(std::wstring(args[0]) + L" is hidden or disabled");
        return CheckFailed;
    }
    Click(button);
    return Done;
}

int DescribeMessageBox(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[0], ms)) return bad;
    HWND box = nullptr;
    if (!WaitUntil(ms, [&] { return (box = FindMessageBox()) != nullptr; })) {
        Complain(L"no message box within " + std::to_wstring(ms) + L" ms");
        return CheckFailed;
    }
    PrintLine(L"caption=" + Escaped(WindowText(box)));
    PrintLine(L"text=" + Escaped(WindowText(GetDlgItem(box, MessageTextId))));
    PrintLine(L"icon=" + IconKind(box));
    PrintLine(L"buttons=" + ButtonList(box));
    PrintLine(L"owner=" + OwnerKind(box));
    return Done;
}

int NoMessageBox(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[0], ms)) return bad;
    HWND box = nullptr;
    if (!WaitUntil(ms, [&] { return (box = FindMessageBox()) != nullptr; })) return Done;
    Complain(L"a message box: " + Escaped(WindowText(GetDlgItem(box, MessageTextId))));
    return CheckFailed;
}

int WaitMessageBoxClosed(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[0], ms)) return bad;
    if (WaitUntil(ms, [] { return FindMessageBox() == nullptr; })) return Done;
    Complain(L"the message box is still open");
    return CheckFailed;
}

int Answer(const Arguments& args)
{
    int id = 0;
    if (!IdForName(MessageBoxButtons, args[0], id)) {
        Complain(L"no such answer: " + std::wstring(args[0]));
        return BadUsage;
    }
    HWND box = FindMessageBox();
    if (!box) {
        Complain(L"no message box");
        return CheckFailed;
    }
    HWND button = GetDlgItem(box, id);
    if (!IsClickable(button)) {
        Complain(L"the message box offers no " + std::wstring(args[0]));
        return CheckFailed;
    }
    Click(button);
    return Done;
}

bool TreeAndIndex(const Arguments& args, HWND& tree, HTREEITEM& item, int& exitCode)
{
    long id = 0, index = 0;
    if (!ParseNumber(args[0], id) || !ParseNumber(args[1], index) || index < 0) {
        exitCode = BadUsage;
        return false;
    }
    exitCode = CheckFailed;
    tree = FindTree(id);
    if (!tree) return false;
    std::vector<HTREEITEM> items = RootItems(tree);
    if ((size_t)index >= items.size()) {
        Complain(L"the tree has " + std::to_wstring(items.size()) + L" root items");
        return false;
    }
    item = items[(size_t)index];
    return true;
}

int PrintTree(const Arguments& args)
{
    long id = 0;
    if (!ParseNumber(args[0], id)) return BadUsage;
    HWND tree = FindTree(id);
    if (!tree) return CheckFailed;
    std::vector<HTREEITEM> items = RootItems(tree);
    for (size_t i = 0; i < items.size(); ++i)
        PrintLine(std::to_wstring(i) + L"\t" + std::to_wstring(StateImage(tree, items[i])) + L"\t"
                  + Escaped(ItemText(tree, items[i])));
    return Done;
}

int TreeSelect(const Arguments& args)
{
    HWND tree = nullptr;
    HTREEITEM item = nullptr;
    int exitCode = Done;
    if (!TreeAndIndex(args, tree, item, exitCode)) return exitCode;
    if (SelectItem(tree, item)) return Done;
    Complain(L"the item could not be selected");
    return CheckFailed;
}

int TreeToggle(const Arguments& args)
{
    HWND tree = nullptr;
    HTREEITEM item = nullptr;
    int exitCode = Done;
    if (!TreeAndIndex(args, tree, item, exitCode)) return exitCode;
    if (!SelectItem(tree, item)) {
        Complain(L"the item could not be selected");
        return CheckFailed;
    }
    int before = StateImage(tree, item);
    PressSpace(tree);
    int after = before;
    if (!WaitUntil(ReplyTimeoutMs, [&] { return (after = StateImage(tree, item)) != before; })) {
        Complain(L"the state image stayed " + std::to_wstring(before));
        return CheckFailed;
    }
    PrintLine(std::to_wstring(after));
    return Done;
}

int PrintRect(const Arguments& args)
{
    std::wstring which = args.empty() ? L"sheet" : args[0];
    HWND window = nullptr;
    if (which == L"sheet")
        window = FindSheet();
    else if (which == L"msgbox")
        window = FindMessageBox();
    else
        return BadUsage;
    if (!window) {
        Complain(L"no " + which);
        return CheckFailed;
    }
    RECT rect;
    GetWindowRect(window, &rect);
    PrintLine(std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" "
              + std::to_wstring(rect.right - rect.left) + L" "
              + std::to_wstring(rect.bottom - rect.top));
    return Done;
}

int WaitProcess(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[1], ms)) return bad;
    if (WaitUntil(ms, [&] { return IsProcessRunning(args[0]); })) return Done;
    Complain(std::wstring(args[0]) + L" is not running");
    return CheckFailed;
}

int WaitProcessGone(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[1], ms)) return bad;
    if (WaitUntil(ms, [&] { return !IsProcessRunning(args[0]); })) return Done;
    Complain(std::wstring(args[0]) + L" is still running");
    return CheckFailed;
}

int PrintTempPath(const Arguments&)
{
    wchar_t path[MAX_PATH + 1] = L"";
    if (!GetTempPathW(MAX_PATH + 1, path)) return CheckFailed;
    PrintLine(Escaped(path));
    return Done;
}

std::wstring Hex(HWND window)
{
    wchar_t text[32];
    wsprintfW(text, L"%p", (void*)window);
    return text;
}

std::wstring RectText(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L" "
         + std::to_wstring(rect.right - rect.left) + L"x" + std::to_wstring(rect.bottom - rect.top);
}

// Dialogs inside dialogs (the pages inside the sheet) are listed with their controls.
void ListControls(HWND dialog, const std::wstring& indent)
{
    for (HWND child : DirectChildren(dialog)) {
        PrintLine(indent + Hex(child) + L"\tid=" + std::to_wstring(GetDlgCtrlID(child))
                  + L"\tvisible=" + std::to_wstring(IsWindowVisible(child) ? 1 : 0) + L"\t"
                  + RectText(child) + L"\t" + ClassName(child) + L"\t"
                  + Escaped(WindowText(child)));
        if (IsDialog(child)) ListControls(child, indent + L"\t");
    }
}

int ListWindows(const Arguments&)
{
    for (HWND window : TopLevelWindows()) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        PrintLine(Hex(window) + L"\tpid=" + std::to_wstring(processId) + L"\tvisible="
                  + std::to_wstring(IsWindowVisible(window) ? 1 : 0) + L"\towner="
                  + Hex(GetWindow(window, GW_OWNER)) + L"\t" + RectText(window) + L"\t"
                  + ClassName(window) + L"\t" + Escaped(WindowText(window)));
        if (IsDialog(window)) ListControls(window, L"\t");
    }
    return Done;
}

// ---- page controls, typing, the folder chooser ----------------------------------------

int ClickControl(const Arguments& args)
{
    HWND control = ControlOrComplain(args[0]);
    if (!control) return CheckFailed;
    if (!IsClickable(control)) {
        Complain(std::wstring(args[0]) + L" is hidden or disabled");
        return CheckFailed;
    }
    Click(control);
    return Done;
}

// Sent, not posted, so that the text read next already holds what was typed.
int TypeText(const Arguments& args)
{
    HWND control = ControlOrComplain(args[0]);
    if (!control) return CheckFailed;
    for (const wchar_t* c = args[1]; *c; ++c) {
        LRESULT ignored = 0;
        if (!Ask(control, WM_CHAR, (WPARAM)*c, 1, ignored)) {
            Complain(L"the control did not take a character");
            return CheckFailed;
        }
    }
    return Done;
}

int TreeCaret(const Arguments& args)
{
    long id = 0;
    if (!ParseNumber(args[0], id)) return BadUsage;
    HWND tree = FindTree(id);
    if (!tree) return CheckFailed;
    auto caret = (HTREEITEM)AskOrZero(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    std::vector<HTREEITEM> items = RootItems(tree);
    int index = -1;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i] == caret) index = (int)i;
    PrintLine(std::to_wstring(index));
    return Done;
}

// SHBrowseForFolder's dialog: a top-level dialog holding the shell's tree (0x3741).
constexpr int ChooserTreeId = 0x3741;

HWND FindChooser()
{
    for (HWND window : TopLevelWindows())
        if (IsWindowVisible(window) && IsDialog(window) && GetDlgItem(window, ChooserTreeId))
            return window;
    return nullptr;
}

HWND ChooserOrComplain()
{
    HWND chooser = FindChooser();
    if (!chooser) Complain(L"no folder chooser");
    return chooser;
}

// The texts from the top of the tree down to ITEM, tab-separated.
std::wstring ItemPath(HWND tree, HTREEITEM item)
{
    std::vector<std::wstring> texts;
    for (; item && texts.size() < 256;
         item = (HTREEITEM)AskOrZero(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item))
        texts.push_back(Escaped(ItemText(tree, item)));
    std::wstring path;
    for (auto text = texts.rbegin(); text != texts.rend(); ++text)
        path += (path.empty() ? L"" : L"\t") + *text;
    return path;
}

int DescribeChooser(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[0], ms)) return bad;
    HWND chooser = nullptr;
    if (!WaitUntil(ms, [&] { return (chooser = FindChooser()) != nullptr; })) {
        Complain(L"no folder chooser within " + std::to_wstring(ms) + L" ms");
        return CheckFailed;
    }
    // The chooser shows before its owner's callback has selected the starting folder,
    // and may select none at all.
    HWND tree = GetDlgItem(chooser, ChooserTreeId);
    HTREEITEM caret = nullptr;
    WaitUntil(ms < ReplyTimeoutMs ? ms : ReplyTimeoutMs, [&] {
        return (caret = (HTREEITEM)AskOrZero(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) != nullptr;
    });
    HWND owner = GetWindow(chooser, GW_OWNER);
    PrintLine(L"title=" + Escaped(WindowText(chooser)));
    for (HWND child : DirectChildren(chooser)) {
        if (lstrcmpiW(ClassName(child).c_str(), L"Static") != 0 || !IsWindowVisible(child))
            continue;
        std::wstring text = WindowText(child);
        if (!text.empty()) PrintLine(L"static=" + Escaped(text));
    }
    PrintLine(L"owner=" + OwnerKind(chooser));
    PrintLine(L"owner-enabled=" + std::to_wstring(owner && IsWindowEnabled(owner) ? 1 : 0));
    PrintLine(L"selected=" + ItemPath(tree, caret));
    RECT rect;
    GetWindowRect(chooser, &rect);
    PrintLine(L"rect=" + std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" "
              + std::to_wstring(rect.right - rect.left) + L" "
              + std::to_wstring(rect.bottom - rect.top));
    return Done;
}

// Walks down from the top of the chooser's tree, opening each item as a user would,
// to the child named by each TEXT in turn, and selects the last one.
int ChooserSelect(const Arguments& args)
{
    HWND chooser = ChooserOrComplain();
    if (!chooser) return CheckFailed;
    HWND tree = GetDlgItem(chooser, ChooserTreeId);
    HTREEITEM parent = nullptr;
    for (const wchar_t* wanted : args) {
        if (parent) AskOrZero(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)parent);
        auto item = (HTREEITEM)(parent
                                    ? AskOrZero(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)parent)
                                    : AskOrZero(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
        while (item && ItemText(tree, item) != wanted)
            item = (HTREEITEM)AskOrZero(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item);
        if (!item) {
            Complain(L"no item " + Escaped(wanted) + L" under "
                     + (parent ? Escaped(ItemText(tree, parent)) : L"the top"));
            return CheckFailed;
        }
        parent = item;
    }
    if (parent && SelectItem(tree, parent)) return Done;
    Complain(L"the item could not be selected");
    return CheckFailed;
}

int ChooserAnswer(const Arguments& args)
{
    int id = 0;
    if (!IdForName(MessageBoxButtons, args[0], id)) {
        Complain(L"no such answer: " + std::wstring(args[0]));
        return BadUsage;
    }
    HWND chooser = ChooserOrComplain();
    if (!chooser) return CheckFailed;
    HWND button = GetDlgItem(chooser, id);
    if (!IsClickable(button)) {
        Complain(L"the chooser offers no " + std::wstring(args[0]));
        return CheckFailed;
    }
    Click(button);
    return Done;
}

int WaitChooserClosed(const Arguments& args)
{
    DWORD ms = 0;
    if (int bad = Timeout(args[0], ms)) return bad;
    if (WaitUntil(ms, [] { return FindChooser() == nullptr; })) return Done;
    Complain(L"the folder chooser is still open");
    return CheckFailed;
}

// ---- progress bars, the close box and responsiveness -------------------------------

int PrintProgress(const Arguments& args)
{
    HWND bar = ControlOrComplain(args[0]);
    if (!bar) return CheckFailed;
    if (lstrcmpiW(ClassName(bar).c_str(), PROGRESS_CLASSW) != 0) {
        Complain(L"control " + std::wstring(args[0]) + L" is a " + ClassName(bar));
        return CheckFailed;
    }
    LRESULT position = 0, low = 0, high = 0;
    if (!Ask(bar, PBM_GETPOS, 0, 0, position) || !Ask(bar, PBM_GETRANGE, TRUE, 0, low)
        || !Ask(bar, PBM_GETRANGE, FALSE, 0, high)) {
        Complain(L"the bar does not answer");
        return CheckFailed;
    }
    bool marquee = (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0;
    PrintLine(L"pos=" + std::to_wstring((long long)position) + L" min="
              + std::to_wstring((long long)low) + L" max=" + std::to_wstring((long long)high)
              + L" marquee=" + std::to_wstring(marquee ? 1 : 0));
    return Done;
}

// What a click on the title bar's close box sends; it reaches the sheet even while
// its Cancel button is disabled.
int CloseBox(const Arguments&)
{
    HWND sheet = SheetOrComplain();
    if (!sheet) return CheckFailed;
    PostMessageW(sheet, WM_SYSCOMMAND, SC_CLOSE, 0);
    return Done;
}

// Milliseconds with two decimals, from microseconds: no C runtime float formatting.
std::wstring Milliseconds(long long microseconds)
{
    wchar_t text[48];
    wsprintfW(text, L"%d.%02d", (int)(microseconds / 1000), (int)(microseconds % 1000 / 10));
    return text;
}

// Nearest rank: the smallest sample that at least PERCENT of the samples do not exceed.
long long Percentile(const std::vector<long long>& sorted, int percent)
{
    size_t rank = (sorted.size() * (size_t)percent + 99) / 100;
    return sorted[rank == 0 ? 0 : rank - 1];
}

// How long the wizard's UI thread takes to answer a message that does nothing: the
// delay a user's click or a repaint would wait at that moment.
int Ping(const Arguments& args)
{
    constexpr UINT PingTimeoutMs = 1000;
    long interval = 0, count = 0;
    if (!ParseNumber(args[0], interval) || interval < 0 || !ParseNumber(args[1], count)
        || count <= 0)
        return BadUsage;
    bool listSamples = args.size() > 2;
    if (listSamples && lstrcmpW(args[2], L"samples") != 0) return BadUsage;
    HWND sheet = SheetOrComplain();
    if (!sheet) return CheckFailed;

    LARGE_INTEGER frequency, first;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&first);
    std::vector<long long> samples;
    int timeouts = 0;
    for (long i = 0; i < count && IsWindow(sheet); ++i) {
        // Sent on a fixed schedule, so a slow answer does not thin out the samples.
        LARGE_INTEGER now, start, end;
        QueryPerformanceCounter(&now);
        long long due = first.QuadPart + frequency.QuadPart * interval * i / 1000;
        if (now.QuadPart < due) Sleep((DWORD)((due - now.QuadPart) * 1000 / frequency.QuadPart));
        QueryPerformanceCounter(&start);
        DWORD_PTR reply = 0;
        BOOL answered = SendMessageTimeoutW(sheet, WM_NULL, 0, 0, SMTO_NORMAL, PingTimeoutMs,
                                            &reply);
        QueryPerformanceCounter(&end);
        if (!answered && !IsWindow(sheet)) break;  // the wizard closed: not a slow answer
        if (!answered) ++timeouts;
        samples.push_back((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    }
    if (samples.empty()) {
        Complain(L"the wizard closed before the first answer");
        return CheckFailed;
    }
    if (listSamples) {
        std::wstring line = L"samples=";
        for (size_t i = 0; i < samples.size(); ++i)
            line += (i ? L"," : L"") + Milliseconds(samples[i]);
        PrintLine(line);
    }
    std::vector<long long> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    PrintLine(L"count=" + std::to_wstring(sorted.size()) + L" p50="
              + Milliseconds(Percentile(sorted, 50)) + L" p99=" + Milliseconds(Percentile(sorted, 99))
              + L" max=" + Milliseconds(sorted.back()) + L" timeouts=" + std::to_wstring(timeouts));
    return Done;
}

// A Wizard97 sheet creates a page's window when the page is first shown, so the
// pages with a window are the ones the wizard has been through, even briefly.
int PrintCreatedPages(const Arguments&)
{
    HWND sheet = SheetOrComplain();
    if (!sheet) return CheckFailed;
    std::wstring ids;
    for (WPARAM index = 0; index < 100; ++index) {
        int id = (int)AskOrZero(sheet, PSM_INDEXTOID, index, 0);
        if (id == 0) break;
        if (AskOrZero(sheet, PSM_INDEXTOHWND, index, 0))
            ids += (ids.empty() ? L"" : L" ") + std::to_wstring(id);
    }
    PrintLine(ids);
    return Done;
}

int PrintFocus(const Arguments&)
{
    HWND sheet = SheetOrComplain();
    if (!sheet) return CheckFailed;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(sheet, nullptr), &info) || !info.hwndFocus) {
        PrintLine(L"0 none none");
        return Done;
    }
    HWND parent = GetParent(info.hwndFocus);
    const wchar_t* where = parent == CurrentPage(sheet) ? L"page" : parent == sheet ? L"sheet" : L"other";
    PrintLine(std::to_wstring(GetDlgCtrlID(info.hwndFocus)) + L" " + ClassName(info.hwndFocus) + L" "
              + where);
    return Done;
}

struct Command {
    const wchar_t* name;
    size_t minArguments;
    size_t maxArguments;
    int (*run)(const Arguments&);
};

const Command Commands[] = {
    {L"wait-sheet", 1, 1, WaitSheet},
    {L"wait-closed", 1, 1, WaitClosed},
    {L"title", 0, 0, PrintTitle},
    {L"page", 0, 0, PrintPage},
    {L"wait-page", 2, 2, WaitPage},
    {L"text", 1, 1, PrintText},
    {L"set-text", 2, 2, SetText},
    {L"button", 1, 1, PrintButton},
    {L"press", 1, 1, Press},
    {L"msgbox", 1, 1, DescribeMessageBox},
    {L"no-msgbox", 1, 1, NoMessageBox},
    {L"wait-msgbox-closed", 1, 1, WaitMessageBoxClosed},
    {L"answer", 1, 1, Answer},
    {L"tree", 1, 1, PrintTree},
    {L"tree-select", 2, 2, TreeSelect},
    {L"tree-toggle", 2, 2, TreeToggle},
    {L"rect", 0, 1, PrintRect},
    {L"wait-process", 2, 2, WaitProcess},
    {L"wait-process-gone", 2, 2, WaitProcessGone},
    {L"temp-path", 0, 0, PrintTempPath},
    {L"windows", 0, 0, ListWindows},
    {L"click", 1, 1, ClickControl},
    {L"type", 2, 2, TypeText},
    {L"tree-caret", 1, 1, TreeCaret},
    {L"chooser", 1, 1, DescribeChooser},
    {L"chooser-select", 1, 16, ChooserSelect},
    {L"chooser-answer", 1, 1, ChooserAnswer},
    {L"wait-chooser-closed", 1, 1, WaitChooserClosed},
    {L"progress", 1, 1, PrintProgress},
    {L"close", 0, 0, CloseBox},
    {L"ping", 2, 3, Ping},
    {L"created-pages", 0, 0, PrintCreatedPages},
    {L"focus", 0, 0, PrintFocus},
};

int Usage()
{
    std::wstring names;
    for (const Command& command : Commands) names += L" " + std::wstring(command.name);
    Complain(L"usage: guidriver COMMAND [ARGUMENTS]; commands:" + names);
    return BadUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return Usage();
    Arguments args(argv + 2, argv + argc);
    for (const Command& command : Commands) {
        if (lstrcmpW(command.name, argv[1]) != 0) continue;
        if (args.size() < command.minArguments || args.size() > command.maxArguments)
            return Usage();
        return command.run(args);
    }
    return Usage();
}
