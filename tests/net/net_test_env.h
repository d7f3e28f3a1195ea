#pragma once
// Where the loopback test server is and where its files live, as the runner that
// started it says through the environment.
#include <string>

std::wstring ServerRoot();                     // Windows path of the served folder
std::wstring HttpUrl(const std::wstring& path);   // http://localhost:PORT + path
std::wstring HttpsUrl(const std::wstring& path);  // https://localhost:PORT + path
// The certificate of a CA nobody trusts, sent without it; one signed by itself.
std::wstring UntrustedUrl(const std::wstring& path);
std::wstring SelfSignedUrl(const std::wstring& path);
// Certificates of the trusted test CA: for elsewhere.invalid, and one that has expired.
std::wstring OtherHostUrl(const std::wstring& path);
std::wstring ExpiredUrl(const std::wstring& path);
// Bytes of a served file, written through the Z: drive that maps the Unix side.
void ServeFile(const std::wstring& name, const std::string& bytes);
void RemoveServedFile(const std::wstring& name);
// How /mod/NAME answers: "files" (default), "chunked", "slow N", "cut", "404", ...
void SetServeMode(const std::wstring& name, const std::string& mode);
std::string PatternBytes(size_t size, unsigned seed);
