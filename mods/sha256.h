#pragma once
// SHA-256 with the system's own crypto (CNG), for bytes as they stream past and for
// whole files.
#include <windows.h>
#include <bcrypt.h>
#include <string>

class Sha256 {
public:
    Sha256() = default;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256() { Close(); }
    bool Start();
    void Add(const void* bytes, DWORD count);
    // 64 lower-case hex digits; empty when the hash could not be made.
    std::string FinishHex();
    bool Started() const { return hash != nullptr; }

private:
    void Close();
    BCRYPT_HASH_HANDLE hash = nullptr;
};

// The SHA-256 of bytes in memory, lower-case hex; empty when it could not be made.
std::string Sha256Of(const void* bytes, DWORD count);

// The SHA-256 and size of a file's bytes. False when it cannot be read.
bool HashFile(const std::wstring& path, std::string& hex, unsigned long long& size);
