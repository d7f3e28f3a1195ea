#include "mods/record/record_text.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

namespace {

constexpr char Header[] =
    "# Zelkor's Mods Pack: what it installed into this game folder, a line each.\r\n"
    "# Its uninstaller reads this file; the originals it replaced are in backup\\.\r\n"
    "# kind\tmod\tsize\tsha256\tbefore\toriginal size\toriginal sha256\tpath\r\n";

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

std::string FileLineOfKind(const char* kind, const RecordedFile& file)
{
    return kind + ("\t" + RecordUtf8(file.mod)) + "\t" + Number(file.size) + "\t" + file.sha256 + "\t"
         + (file.replacedOriginal ? "replaced\t" + Number(file.originalSize) + "\t"
                                        + file.originalSha256
                                  : std::string("new\t-\t-"))
         + "\t" + RecordUtf8(file.path) + "\r\n";
}

}  // namespace

std::string RecordUtf8(const std::wstring& text)
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

bool IsRecordablePath(const std::wstring& path)
{
    if (path.empty()) return false;
    return std::none_of(path.begin(), path.end(), [](wchar_t c) { return c < 0x20; });
}

std::wstring PathKey(const std::wstring& relative)
{
    std::wstring key(relative);
    if (!key.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, relative.c_str(), (int)relative.size(),
                      &key[0], (int)key.size(), nullptr, nullptr, 0);
    return key;
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
    return "folder\t" + RecordUtf8(folder.mod) + "\t-\t-\tcreated\t-\t-\t" + RecordUtf8(folder.path)
         + "\r\n";
}

std::string ForgetFileLine(const std::wstring& relative)
{
    return "forget-file\t-\t-\t-\t-\t-\t-\t" + RecordUtf8(relative) + "\r\n";
}

std::string ForgetFolderLine(const std::wstring& relative)
{
    return "forget-folder\t-\t-\t-\t-\t-\t-\t" + RecordUtf8(relative) + "\r\n";
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
