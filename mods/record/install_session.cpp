#include "mods/record/install_session.h"

#include <algorithm>

Session session;
static SRWLOCK sessionLock = SRWLOCK_INIT;

Hold::Hold()
{
    AcquireSRWLockExclusive(&sessionLock);
}

Hold::~Hold()
{
    ReleaseSRWLockExclusive(&sessionLock);
}

void IndexRecord()
{
    session.files.clear();
    session.folders.clear();
    for (size_t i = 0; i < session.record.files.size(); ++i)
        session.files[PathKey(session.record.files[i].path)] = i;
    for (size_t i = 0; i < session.record.folders.size(); ++i)
        session.folders[PathKey(session.record.folders[i].path)] = i;
}

bool PutFile(const RecordedFile& file)
{
    auto found = session.files.emplace(PathKey(file.path), session.record.files.size());
    if (found.second)
        session.record.files.push_back(file);
    else
        session.record.files[found.first->second] = file;
    return AppendPendingLine(file.earlierSha256.empty() ? FileLine(file) : ReplacingLine(file));
}

void ForgetFile(const std::wstring& relative)
{
    auto found = session.files.find(PathKey(relative));
    if (found == session.files.end()) return;
    session.record.files[found->second].path.clear();
    session.files.erase(found);
    AppendPendingLine(ForgetFileLine(relative));
}

void ForgetFolder(const std::wstring& relative)
{
    auto found = session.folders.find(PathKey(relative));
    if (found == session.folders.end()) return;
    session.record.folders[found->second].path.clear();
    session.folders.erase(found);
    AppendPendingLine(ForgetFolderLine(relative));
}

void DropForgotten()
{
    auto& files = session.record.files;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const RecordedFile& f) { return f.path.empty(); }),
                files.end());
    auto& folders = session.record.folders;
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [](const RecordedFolder& f) { return f.path.empty(); }),
                  folders.end());
    IndexRecord();
}
