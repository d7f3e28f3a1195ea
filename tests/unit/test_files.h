#pragma once
// Real files in a fresh folder under the Windows temporary folder, removed afterwards.
#include <map>
#include <string>

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::wstring& path() const { return root; }
    std::wstring Sub(const std::wstring& name) const { return root + L"\\" + name; }
    std::wstring MakeFolder(const std::wstring& name) const;
    void Write(const std::wstring& relative, const std::string& bytes) const;

private:
    std::wstring root;
};

std::string ReadWholeFile(const std::wstring& path);
// Every file below root with its bytes, and every folder (ending in a backslash, with no
// bytes), by its path relative to root.
std::map<std::wstring, std::string> FolderState(const std::wstring& root);
bool FileExists(const std::wstring& path);

// A file the build wrote, by its path in the build folder: the folder above the one
// holding the test exe.
std::wstring BuildFile(const std::wstring& relative);

// A test archive that the build wrote (tests/data/make_archives.py). ARCHIVE_TESTDATA
// names their folder as a Unix path; without it, the build's testdata folder.
std::wstring TestArchive(const wchar_t* name);

std::string Utf8(const std::wstring& text);
// How many times piece stands in text.
size_t Occurrences(const std::string& text, const std::string& piece);
