#include "mods/install_record.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "app/long_path.h"
#include "mods/sha256.h"

const wchar_t RecordFolderName[] = L"ZelkorsModsPack";

namespace {

constexpr char Header[] =
    "# Zelkor's Mods Pack: what it installed into this game folder, a line each.\r\n"
    "# Its uninstaller reads this file; the originals it replaced are in backup\\.\r\n"
    "# kind\tmod\tsize\tsha256\tbefore\toriginal size\toriginal sha256\tpath\r\n";

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0,
                                    nullptr, nullptr);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], bytes, nullptr,
                            nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty()) return std::wstring();
    int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(),
                                    nullptr, 0);
    std::wstring out(chars > 0 ? chars : 0, L'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &out[0], chars);
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

std::string Number(unsigned long long value)
{
    return std::to_string(value);
}

bool ParseNumber(const std::string& text, unsigned long long& value)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

bool IsHash(const std::string& text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A relative path as the record may hold it: no empty name, no control character.
bool IsRecordablePath(const std::wstring& path)
{
    if (path.empty()) return false;
    return std::none_of(path.begin(), path.end(), [](wchar_t c) { return c < 0x20; });
}

// Lines are applied through an index by path, so a record of many thousand files
// reads in one pass; forgotten entries are marked, then dropped at the end.
struct RecordIndex {
    std::unordered_map<std::wstring, size_t> files;
    std::unordered_map<std::wstring, size_t> folders;
};

template <typename Entry>
void Upsert(std::vector<Entry>& entries, std::unordered_map<std::wstring, size_t>& index,
            const Entry& entry)
{
    auto found = index.emplace(PathKey(entry.path), entries.size());
    if (found.second)
        entries.push_back(entry);
    else
        entries[found.first->second] = entry;
}

template <typename Entry>
void Erase(std::vector<Entry>& entries, std::unordered_map<std::wstring, size_t>& index,
           const std::wstring& path)
{
    auto found = index.find(PathKey(path));
    if (found == index.end()) return;
    entries[found->second].path.clear();
    index.erase(found);
}

template <typename Entry>
void DropErased(std::vector<Entry>& entries)
{
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const Entry& e) { return e.path.empty(); }),
                  entries.end());
}

// Applies one line; lines that do not parse are left out.
void ApplyLine(const std::string& line, InstallRecord& record, RecordIndex& index)
{
    if (line.empty() || line[0] == '#') return;
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() != 8) return;
    std::wstring path = FromUtf8(f[7]);
    if (!IsRecordablePath(path)) return;
    if (f[0] == "file" || f[0] == "replacing") {
        RecordedFile file;
        file.path = path;
        file.mod = FromUtf8(f[1]);
        file.replacedOriginal = f[4] == "replaced";
        if (!ParseNumber(f[2], file.size) || !IsHash(f[3]) || (!file.replacedOriginal && f[4] != "new"))
            return;
        file.sha256 = f[3];
        if (file.replacedOriginal) {
            if (!ParseNumber(f[5], file.originalSize) || !IsHash(f[6])) return;
            file.originalSha256 = f[6];
        }
        auto earlier = index.files.find(PathKey(path));
        if (f[0] == "replacing" && earlier != index.files.end()) {
            file.earlierSize = record.files[earlier->second].size;
            file.earlierSha256 = record.files[earlier->second].sha256;
        }
        Upsert(record.files, index.files, file);
    } else if (f[0] == "folder") {
        Upsert(record.folders, index.folders, RecordedFolder{path, FromUtf8(f[1])});
    } else if (f[0] == "forget-file") {
        Erase(record.files, index.files, path);
    } else if (f[0] == "forget-folder") {
        Erase(record.folders, index.folders, path);
    }
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    DWORD read = 0;
    bytes.clear();
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool whole = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr)
              && written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!whole) DeleteFileW(SystemPath(path).c_str());
    return whole;
}

std::wstring pendingPath;
HANDLE pending = INVALID_HANDLE_VALUE;
CRITICAL_SECTION pendingLock;
INIT_ONCE pendingLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitPendingLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&pendingLock);
    return TRUE;
}

// Lines a killed run left stay; a last one it cut short is ended first, with an empty
// line, so that it does not swallow this run's first.
HANDLE OpenPendingFile(const std::wstring& path)
{
    CreateDirectoryW(SystemPath(path.substr(0, path.rfind(L'\\'))).c_str(), nullptr);
    HANDLE file = CreateFileW(SystemPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart > 0)
        WriteFile(file, "\r\n", 2, &written, nullptr);
    return file;
}

// Closes the file of the pending lines, removes it when remove names it, and ends the
// keeping of lines when endRun.
void ClosePendingFile(const wchar_t* remove, bool endRun)
{
    InitOnceExecuteOnce(&pendingLockOnce, InitPendingLock, nullptr, nullptr);
    EnterCriticalSection(&pendingLock);
    if (pending != INVALID_HANDLE_VALUE) CloseHandle(pending);
    pending = INVALID_HANDLE_VALUE;
    if (remove) DeleteFileW(SystemPath(remove).c_str());
    if (endRun) pendingPath.clear();
    LeaveCriticalSection(&pendingLock);
}

}  // namespace

std::wstring FullGameFolder(const std::wstring& gameFolder)
{
    std::wstring folder = FullPathOf(gameFolder + L"\\");
    if (folder.empty()) return folder;
    if (folder.back() != L'\\') folder += L'\\';
    return folder;
}

std::wstring RecordFolderOf(const std::wstring& gameFolder)
{
    return FullGameFolder(gameFolder) + RecordFolderName;
}

std::wstring RecordFileOf(const std::wstring& gameFolder)
{
    return RecordFolderOf(gameFolder) + L"\\installed.txt";
}

std::wstring PendingFileOf(const std::wstring& gameFolder)
{
    return RecordFolderOf(gameFolder) + L"\\installing.txt";
}

std::wstring BackupPathFor(const std::wstring& gameFolder, const std::wstring& relative)
{
    Sha256 hash;
    hash.Start();
    std::string key = ToUtf8(PathKey(relative));
    hash.Add(key.data(), (DWORD)key.size());
    std::string hex = hash.FinishHex().substr(0, 16);
    size_t slash = relative.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? relative : relative.substr(slash + 1);
    return RecordFolderOf(gameFolder) + L"\\backup\\" + std::wstring(hex.begin(), hex.end()) + L"-"
         + name;
}

bool RelativeToGame(const std::wstring& fullGameFolder, const std::wstring& path,
                    std::wstring& relative)
{
    std::wstring full = FullPathOf(path);
    size_t prefix = fullGameFolder.size();
    if (fullGameFolder.empty() || full.size() <= prefix
        || CompareStringOrdinal(full.c_str(), (int)prefix, fullGameFolder.c_str(), (int)prefix,
                                TRUE)
               != CSTR_EQUAL)
        return false;
    relative = full.substr(prefix);
    return IsRecordablePath(relative);
}

std::wstring PathKey(const std::wstring& relative)
{
    std::wstring key(relative);
    if (!key.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, relative.c_str(), (int)relative.size(),
                      &key[0], (int)key.size(), nullptr, nullptr, 0);
    return key;
}

bool RecordExists(const std::wstring& gameFolder)
{
    return GetFileAttributesW(SystemPath(RecordFileOf(gameFolder)).c_str())
               != INVALID_FILE_ATTRIBUTES
        || GetFileAttributesW(SystemPath(PendingFileOf(gameFolder)).c_str())
               != INVALID_FILE_ATTRIBUTES;
}

static std::string FileLineOfKind(const char* kind, const RecordedFile& file)
{
    return kind + ("\t" + ToUtf8(file.mod)) + "\t" + Number(file.size) + "\t" + file.sha256 + "\t"
         + (file.replacedOriginal ? "replaced\t" + Number(file.originalSize) + "\t"
                                        + file.originalSha256
                                  : std::string("new\t-\t-"))
         + "\t" + ToUtf8(file.path) + "\r\n";
}

std::string FileLine(const RecordedFile& file)
{
    return FileLineOfKind("file", file);
}

std::string ReplacingLine(const RecordedFile& file)
{
    return FileLineOfKind("replacing", file);
}

std::string FolderLine(const RecordedFolder& folder)
{
    return "folder\t" + ToUtf8(folder.mod) + "\t-\t-\tcreated\t-\t-\t" + ToUtf8(folder.path)
         + "\r\n";
}

std::string ForgetFileLine(const std::wstring& relative)
{
    return "forget-file\t-\t-\t-\t-\t-\t-\t" + ToUtf8(relative) + "\r\n";
}

std::string ForgetFolderLine(const std::wstring& relative)
{
    return "forget-folder\t-\t-\t-\t-\t-\t-\t" + ToUtf8(relative) + "\r\n";
}

std::string FormatRecord(const InstallRecord& record)
{
    std::string text = Header;
    for (const RecordedFolder& folder : record.folders) text += FolderLine(folder);
    for (const RecordedFile& file : record.files) {
        if (file.earlierSha256.empty()) {
            text += FileLine(file);
            continue;
        }
        // Still cut short by a crash: the earlier bytes, then the later ones.
        RecordedFile earlier = file;
        earlier.size = file.earlierSize;
        earlier.sha256 = file.earlierSha256;
        text += FileLine(earlier) + ReplacingLine(file);
    }
    return text;
}

void ApplyRecordLines(const std::string& text, InstallRecord& record)
{
    RecordIndex index;
    for (size_t i = 0; i < record.files.size(); ++i) index.files[PathKey(record.files[i].path)] = i;
    for (size_t i = 0; i < record.folders.size(); ++i)
        index.folders[PathKey(record.folders[i].path)] = i;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a last line cut short by a kill
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ApplyLine(line, record, index);
        start = end + 1;
    }
    DropErased(record.files);
    DropErased(record.folders);
}

bool LoadRecord(const std::wstring& gameFolder, InstallRecord& record)
{
    record = InstallRecord();
    std::string text;
    bool any = false;
    if (ReadWholeFile(RecordFileOf(gameFolder), text)) {
        ApplyRecordLines(text, record);
        any = true;
    }
    if (ReadWholeFile(PendingFileOf(gameFolder), text)) {
        ApplyRecordLines(text, record);
        any = true;
    }
    return any;
}

bool SaveRecord(const std::wstring& gameFolder, const InstallRecord& record)
{
    std::wstring folder = RecordFolderOf(gameFolder);
    CreateDirectoryW(SystemPath(folder).c_str(), nullptr);
    std::wstring beside = folder + L"\\installed.new";
    if (!WriteWholeFile(beside, FormatRecord(record))) return false;
    if (!MoveFileExW(SystemPath(beside).c_str(), SystemPath(RecordFileOf(gameFolder)).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(SystemPath(beside).c_str());
        return false;
    }
    // The record holds them now; the run's next line starts the file anew.
    ClosePendingFile(PendingFileOf(gameFolder).c_str(), false);
    return true;
}

void OpenPendingLines(const std::wstring& gameFolder)
{
    ClosePendingLines();
    pendingPath = PendingFileOf(gameFolder);
}

bool AppendPendingLine(const std::string& line)
{
    if (pendingPath.empty()) return true;
    EnterCriticalSection(&pendingLock);
    if (pending == INVALID_HANDLE_VALUE) pending = OpenPendingFile(pendingPath);
    DWORD written = 0;
    bool whole = pending != INVALID_HANDLE_VALUE
              && WriteFile(pending, line.data(), (DWORD)line.size(), &written, nullptr)
              && written == line.size();
    LeaveCriticalSection(&pendingLock);
    return whole;
}

void DiscardPendingLines(const std::wstring& gameFolder)
{
    ClosePendingFile(PendingFileOf(gameFolder).c_str(), true);
}

void ClosePendingLines()
{
    ClosePendingFile(nullptr, true);
}
