#pragma once
// The install record as text: one tab-separated UTF-8 line per file the pack placed
// and per folder it made, and the lines that forget them. Kept apart from the files
// that hold it, so that reading and writing the form can be tested on strings.
#include <string>
#include <vector>

struct RecordedFile {
    std::wstring path;  // relative to the game folder
    std::wstring mod;   // the catalogue row's key
    unsigned long long size = 0;
    std::string sha256;  // of the bytes the pack wrote
    bool replacedOriginal = false;  // a file was there before; its bytes are in backup\.
    unsigned long long originalSize = 0;
    std::string originalSha256;
    // While the pack's own earlier file at the path is being replaced: its bytes, which
    // a crash before the new file is moved in leaves there. Empty otherwise.
    unsigned long long earlierSize = 0;
    std::string earlierSha256;
};

struct RecordedFolder {
    std::wstring path;  // relative to the game folder
    std::wstring mod;
};

struct InstallRecord {
    std::vector<RecordedFile> files;
    std::vector<RecordedFolder> folders;
};

// The form two relative paths are compared in: Windows names ignore case.
std::wstring PathKey(const std::wstring& relative);
// A relative path as the record may hold it: no empty name, no control character.
bool IsRecordablePath(const std::wstring& path);
// Text as the record writes it: UTF-8.
std::string RecordUtf8(const std::wstring& text);

// The lines of each kind, each ending in CR LF, and the whole of installed.txt.
std::string FormatRecord(const InstallRecord& record);
std::string FileLine(const RecordedFile& file);
// A file noted over one the pack placed before: the earlier bytes stay the pack's too
// until a later line for the path.
std::string ReplacingLine(const RecordedFile& file);
std::string FolderLine(const RecordedFolder& folder);
std::string ForgetFileLine(const std::wstring& relative);
std::string ForgetFolderLine(const std::wstring& relative);
// Applies whole lines (a last line without its line end was cut by a kill, and is
// left out) on top of record.
void ApplyRecordLines(const std::string& text, InstallRecord& record);
