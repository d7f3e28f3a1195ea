// fetch.exe URL OUTFILE [TIMEOUT_MS]: one plain WinINet GET, the body written to OUTFILE.
// Prints "status=N bytes=N error=N length=N ms=N" (length -1: no Content-Length; error:
// GetLastError of the first call that failed, 0 if none). Exit 0 for a 200 whose body is
// complete, 1 otherwise. A check tool for the test server, also usable for timing.
#include <windows.h>
#include <wininet.h>
#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: fetch URL OUTFILE [TIMEOUT_MS]\n");
    return 2;
  }
  DWORD status = 0, error = 0;
  long long bytes = 0, length = -1;
  ULONGLONG t0 = GetTickCount64();

  wchar_t host[256], path[2048], extra[2048];
  URL_COMPONENTSW uc{};
  uc.dwStructSize = sizeof uc;
  uc.lpszHostName = host;   uc.dwHostNameLength = 256;
  uc.lpszUrlPath = path;    uc.dwUrlPathLength = 2048;
  uc.lpszExtraInfo = extra; uc.dwExtraInfoLength = 2048;
  HINTERNET net = nullptr, conn = nullptr, req = nullptr;
  HANDLE out = INVALID_HANDLE_VALUE;
  // Each step runs only if every earlier one succeeded; `error` keeps the first failure.
  auto ok = [&](bool r) { if (!r && !error) error = GetLastError(); return r && !error; };

  if (ok(InternetCrackUrlW(argv[1], 0, 0, &uc)) &&
      ok((net = InternetOpenW(L"fetch", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)) != nullptr)) {
    // Set on the request handle too: Wine does not pass the send and receive time-outs
    // down from the session handle.
    DWORD ms = argc > 3 ? wcstoul(argv[3], nullptr, 10) : 0;
    auto timeouts = [&](HINTERNET h) {
      for (DWORD opt : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        if (ms) InternetSetOptionW(h, opt, &ms, sizeof ms);
      return h;
    };
    timeouts(net);
    bool https = uc.nScheme == INTERNET_SCHEME_HTTPS;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                  (https ? INTERNET_FLAG_SECURE : 0);
    std::wstring object = std::wstring(path) + extra;
    if (ok((conn = InternetConnectW(net, host, uc.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)) != nullptr) &&
        ok((req = timeouts(HttpOpenRequestW(conn, L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0))) != nullptr) &&
        ok(HttpSendRequestW(req, nullptr, 0, nullptr, 0))) {
      DWORD size = sizeof status;
      ok(HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
      wchar_t len[32];
      size = sizeof len;
      if (HttpQueryInfoW(req, HTTP_QUERY_CONTENT_LENGTH, len, &size, nullptr)) length = _wtoi64(len);
      out = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ok(out != INVALID_HANDLE_VALUE);
      static char buf[64 * 1024];
      DWORD got = 0, put = 0;
      while (ok(InternetReadFile(req, buf, sizeof buf, &got)) && got > 0 &&
             ok(WriteFile(out, buf, got, &put, nullptr)))
        bytes += got;
    }
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (req) InternetCloseHandle(req);
  if (conn) InternetCloseHandle(conn);
  if (net) InternetCloseHandle(net);
  printf("status=%lu bytes=%lld error=%lu length=%lld ms=%llu\n", status, bytes, error, length,
         GetTickCount64() - t0);
  return status == 200 && !error && (length < 0 || bytes == length) ? 0 : 1;
}
