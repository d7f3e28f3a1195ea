#include "mods/install/archive_plan.h"

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/game_path.h"

namespace {

void Refuse(InstallAttempt& attempt, InstallFailure failure, const std::wstring& file)
{
    if (attempt.failure != InstallFailure::None) return;  // the first reason is the one told
    attempt.failure = failure;
    attempt.failedFile = file;
}

}  // namespace

EntryPlace PlaceOfEntry(const ArchiveEntry& entry, const std::wstring& gameFolder,
                        const std::wstring& fullGameFolder, std::wstring& destination,
                        std::wstring& fullDestination)
{
    if (entry.nameTooLong) return EntryPlace::NameTooLong;
    std::wstring wide;
    bool utf8 = false;
    if (!DecodeEntryName(entry.name, (entry.info.flag & Utf8NameFlag) != 0, wide, utf8))
        return EntryPlace::BadName;
    destination = gameFolder + L"\\" + wide;
    if (!IsSafeRelativePath(wide)) return EntryPlace::Outside;
    fullDestination = FullPathOf(destination);
    return IsInsideFullFolder(fullDestination, fullGameFolder) ? EntryPlace::Inside
                                                               : EntryPlace::Outside;
}

void LogRefusedEntry(const ArchiveEntry& entry, EntryPlace place, const std::wstring& gameFolder,
                     const std::wstring& destination)
{
    switch (place) {
    case EntryPlace::NameTooLong:
        LogWrite(L"Skipped: %ls... - the entry name is too long\n", EscapedName(entry.name).c_str());
        return;
    case EntryPlace::BadName:
        LogWrite(L"Skipped: %ls - the entry name is neither UTF-8 nor Shift_JIS\n",
                 EscapedName(entry.name).c_str());
        return;
    case EntryPlace::Outside:
        LogWrite(L"Refused: %ls - the entry would be written outside the game folder\n",
                 destination.substr(gameFolder.size() + 1).c_str());
        return;
    case EntryPlace::Inside:
        return;
    }
}

bool PlanArchive(unzFile archive, const wchar_t* archivePath, const std::wstring& gameFolder,
                 std::vector<std::wstring>& fullDestinations, InstallAttempt& attempt)
{
    std::wstring fullGame = FullFolder(gameFolder);
    ArchiveEntry entry;
    for (;;) {
        if (!ReadEntry(archive, entry)) {
            LogWrite(L"Failed: %ls - the archive's directory is damaged\n", archivePath);
            Refuse(attempt, InstallFailure::Unreadable, archivePath);
            break;
        }
        // Entries left out by the rule are never read, so nothing about them can fail.
        if (!EntryIsDirectory(entry) && IsSelectedEntry(entry.name)) {
            std::wstring destination, fullDestination;
            EntryPlace place = PlaceOfEntry(entry, gameFolder, fullGame, destination, fullDestination);
            if (place != EntryPlace::Inside) {
                LogRefusedEntry(entry, place, gameFolder, destination);
                Refuse(attempt, InstallFailure::Refused,
                       destination.empty() ? EscapedName(entry.name) : destination);
            } else if (!IsReadableMethod(entry)) {
                LogWrite(L"Failed: %ls - its data cannot be unpacked (method %d)\n",
                         destination.c_str(), (int)entry.info.compression_method);
                Refuse(attempt, InstallFailure::Unreadable, destination);
            } else {
                fullDestinations.push_back(fullDestination);
            }
        }
        if (unzGoToNextFile(archive) == UNZ_END_OF_LIST_OF_FILE) break;
    }
    unzGoToFirstFile(archive);
    return attempt.failure == InstallFailure::None;
}
