#include "mods/install/archive_file.h"

#include <windows.h>
#include <algorithm>
#include <cstring>

#include "app/long_path.h"

namespace {

// Two blocks: one follows the central directory, the other the entry being read,
// between which minizip goes back and forth for every entry.
constexpr DWORD BlockBytes = 64 * 1024;
constexpr int BlockCount = 2;

struct Block {
    unsigned long long start = 0;
    DWORD length = 0;
    unsigned long long lastUse = 0;
    char data[BlockBytes];
};

struct ArchiveFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    unsigned long long size = 0;
    unsigned long long position = 0;
    unsigned long long uses = 0;
    bool failed = false;
    Block blocks[BlockCount];
};

DWORD ReadAt(ArchiveFile& archive, unsigned long long offset, void* buffer, DWORD count)
{
    if (offset >= archive.size) return 0;
    OVERLAPPED at = {};
    at.Offset = (DWORD)offset;
    at.OffsetHigh = (DWORD)(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(archive.file, buffer, count, &read, &at) && GetLastError() != ERROR_HANDLE_EOF)
        archive.failed = true;
    return read;
}

Block& BlockHolding(ArchiveFile& archive, unsigned long long offset, DWORD count)
{
    Block* oldest = &archive.blocks[0];
    for (Block& block : archive.blocks) {
        if (offset >= block.start && offset + count <= block.start + block.length) {
            block.lastUse = ++archive.uses;
            return block;
        }
        if (block.lastUse < oldest->lastUse) oldest = &block;
    }
    oldest->start = offset;
    oldest->length = ReadAt(archive, offset, oldest->data, BlockBytes);
    oldest->lastUse = ++archive.uses;
    return *oldest;
}

voidpf ZCALLBACK OpenFile(voidpf, const void* path, int mode)
{
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    HANDLE file = CreateFileW(static_cast<const wchar_t*>(path), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return nullptr;
    }
    ArchiveFile* archive = new ArchiveFile;
    archive->file = file;
    archive->size = (unsigned long long)size.QuadPart;
    return archive;
}

uLong ZCALLBACK ReadFileData(voidpf, voidpf stream, void* buffer, uLong count)
{
    ArchiveFile& archive = *static_cast<ArchiveFile*>(stream);
    DWORD served;
    if (count >= BlockBytes) {
        served = ReadAt(archive, archive.position, buffer, (DWORD)count);
    } else {
        Block& block = BlockHolding(archive, archive.position, (DWORD)count);
        unsigned long long end = block.start + block.length;
        served = archive.position >= end
               ? 0
               : (DWORD)std::min<unsigned long long>(count, end - archive.position);
        std::memcpy(buffer, block.data + (archive.position - block.start), served);
    }
    archive.position += served;
    return served;
}

uLong ZCALLBACK WriteFileData(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream)
{
    return static_cast<ArchiveFile*>(stream)->position;
}

long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    ArchiveFile& archive = *static_cast<ArchiveFile*>(stream);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: archive.position = offset; return 0;
    case ZLIB_FILEFUNC_SEEK_CUR: archive.position += offset; return 0;
    case ZLIB_FILEFUNC_SEEK_END: archive.position = archive.size + offset; return 0;
    default: return -1;
    }
}

int ZCALLBACK CloseFile(voidpf, voidpf stream)
{
    ArchiveFile* archive = static_cast<ArchiveFile*>(stream);
    CloseHandle(archive->file);
    delete archive;
    return 0;
}

int ZCALLBACK TestError(voidpf, voidpf stream)
{
    return static_cast<ArchiveFile*>(stream)->failed ? -1 : 0;
}

}  // namespace

unzFile OpenArchiveForReading(const wchar_t* path)
{
    zlib_filefunc64_def files = {};
    files.zopen64_file = OpenFile;
    files.zread_file = ReadFileData;
    files.zwrite_file = WriteFileData;
    files.ztell64_file = Tell;
    files.zseek64_file = Seek;
    files.zclose_file = CloseFile;
    files.zerror_file = TestError;
    std::wstring systemPath = SystemPath(path);
    return unzOpen2_64(systemPath.c_str(), &files);
}
