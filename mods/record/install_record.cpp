#include "mods/record/install_record.h"

#include <windows.h>

#include "app/install_log.h"
#include "app/long_path.h"

namespace {

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
    CountDiskFlush();
    CloseHandle(file);
    if (!whole) DeleteFileW(SystemPath(path).c_str());
    return whole;
}

}  // namespace

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
    PendingLinesSaved(gameFolder);
    return true;
}
