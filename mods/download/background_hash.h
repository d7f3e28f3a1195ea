#pragma once
// SHA-256 of bytes as they stream past, taken on a thread of its own: each piece is
// copied into one of a few buffers and hashed from there, so that whoever streams the
// bytes does not wait for the hash. Under Wine, CNG hashes slower than a download
// arrives.
#include <windows.h>
#include <string>
#include <vector>

#include "mods/sha256.h"

class BackgroundSha256 {
public:
    BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;
    ~BackgroundSha256();
    // Begins a new hash, once the bytes of the last one have been taken.
    bool Start();
    // Queues a copy of the bytes; waits only while every buffer is still being hashed.
    void Add(const void* bytes, DWORD count);
    // 64 lower-case hex digits of every byte added since Start; empty when the hash
    // could not be made.
    std::string FinishHex();

private:
    static DWORD WINAPI Hasher(LPVOID self);
    void WaitUntilHashed();

    Sha256 hash;  // touched by the hasher alone while pieces are queued
    HANDLE thread = nullptr;
    std::vector<std::vector<char>> buffers;
    std::vector<DWORD> counts;
    unsigned long long queued = 0, hashed = 0;  // pieces, counted from the first
    bool stopping = false;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE pieceQueued = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE pieceHashed = CONDITION_VARIABLE_INIT;
};
