#include "mods/sha256.h"

#include <vector>

#include "app/long_path.h"

namespace {

// One provider for the process: opening it costs far more than hashing a small file.
BCRYPT_ALG_HANDLE provider = nullptr;
INIT_ONCE providerOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK OpenProvider(PINIT_ONCE, PVOID, PVOID*)
{
    if (BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
        provider = nullptr;
    return TRUE;
}

}  // namespace

bool Sha256::Start()
{
    Close();
    InitOnceExecuteOnce(&providerOnce, OpenProvider, nullptr, nullptr);
    return provider && BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
}

void Sha256::Add(const void* bytes, DWORD count)
{
    if (hash && count) BCryptHashData(hash, (PUCHAR)bytes, count, 0);
}

std::string Sha256::FinishHex()
{
    unsigned char digest[32];
    std::string hex;
    if (hash && BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0) {
        static const char digits[] = "0123456789abcdef";
        for (unsigned char byte : digest) {
            hex += digits[byte >> 4];
            hex += digits[byte & 15];
        }
    }
    Close();
    return hex;
}

void Sha256::Close()
{
    if (hash) BCryptDestroyHash(hash);
    hash = nullptr;
}

std::string Sha256Of(const void* bytes, DWORD count)
{
    Sha256 hash;
    if (!hash.Start()) return std::string();
    hash.Add(bytes, count);
    return hash.FinishHex();
}

bool HashFile(const std::wstring& path, std::string& hex, unsigned long long& size)
{
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    Sha256 hash;
    bool read = hash.Start();
    std::vector<char> buffer(1024 * 1024);
    size = 0;
    for (DWORD got = 0; read;) {
        read = ReadFile(file, buffer.data(), (DWORD)buffer.size(), &got, nullptr) != FALSE;
        if (!read || got == 0) break;
        hash.Add(buffer.data(), got);
        size += got;
    }
    CloseHandle(file);
    hex = read ? hash.FinishHex() : std::string();
    return read && !hex.empty();
}
