#include "tests/net/net_test_env.h"

#include <windows.h>

#include <cstdlib>

#include "tests/unit/test_files.h"

static std::wstring Env(const wchar_t* name)
{
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

std::wstring ServerRoot() { return Env(L"NET_TEST_ROOT"); }

// The test server's listeners all answer to localhost, the name its certificates hold.
static std::wstring LocalUrl(const wchar_t* scheme, const wchar_t* portVariable,
                             const std::wstring& path)
{
    return std::wstring(scheme) + L"://localhost:" + Env(portVariable) + path;
}

std::wstring HttpUrl(const std::wstring& path)
{
    return LocalUrl(L"http", L"NET_TEST_HTTP_PORT", path);
}

std::wstring HttpsUrl(const std::wstring& path)
{
    return LocalUrl(L"https", L"NET_TEST_HTTPS_PORT", path);
}

std::wstring UntrustedUrl(const std::wstring& path)
{
    return LocalUrl(L"https", L"NET_TEST_UNTRUSTED_PORT", path);
}

std::wstring OtherHostUrl(const std::wstring& path)
{
    return LocalUrl(L"https", L"NET_TEST_OTHERHOST_PORT", path);
}

std::wstring ExpiredUrl(const std::wstring& path)
{
    return LocalUrl(L"https", L"NET_TEST_EXPIRED_PORT", path);
}

std::wstring SelfSignedUrl(const std::wstring& path)
{
    return LocalUrl(L"https", L"NET_TEST_SELFSIGNED_PORT", path);
}

static void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

void ServeFile(const std::wstring& name, const std::string& bytes)
{
    WriteFileBytes(ServerRoot() + L"\\" + name, bytes);
}

void RemoveServedFile(const std::wstring& name)
{
    DeleteFileW((ServerRoot() + L"\\" + name).c_str());
}

void SetServeMode(const std::wstring& name, const std::string& mode)
{
    std::wstring path = ServerRoot() + L"\\" + name + L".mode";
    if (mode.empty() || mode == "files")
        DeleteFileW(path.c_str());
    else
        WriteFileBytes(path, mode);
}

std::string PatternBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = (char)(state >> 16);
    }
    return bytes;
}
