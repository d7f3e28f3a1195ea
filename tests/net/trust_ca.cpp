// trust_ca.exe CERTFILE: adds a CA certificate (DER or PEM) to the machine's "Root" store
// of the Wine prefix it runs in, so that test HTTPS servers are trusted there and nowhere
// else. Exit 0 once the certificate is in the store.
#include <windows.h>
#include <wincrypt.h>
#include <cstdio>
#include <vector>

static int fail(const char* what) {
  fprintf(stderr, "trust_ca: %s failed, error %lu\n", what, GetLastError());
  return 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: trust_ca CERTFILE (DER or PEM)\n");
    return 2;
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail("opening the certificate file");
  std::vector<BYTE> data(GetFileSize(file, nullptr));
  DWORD got = 0;
  BOOL read = ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
  CloseHandle(file);
  if (!read || got != data.size()) return fail("reading the certificate file");

  if (data.size() > 10 && memcmp(data.data(), "-----", 5) == 0) {  // PEM: decode to DER
    DWORD size = 0;
    const char* text = reinterpret_cast<const char*>(data.data());
    if (!CryptStringToBinaryA(text, got, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      return fail("decoding PEM");
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(text, got, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
      return fail("decoding PEM");
    der.resize(size);
    data.swap(der);
  }

  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return fail("CertOpenStore(LocalMachine\\Root)");
  PCCERT_CONTEXT added = nullptr;
  if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, data.data(), static_cast<DWORD>(data.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
    int rc = fail("CertAddEncodedCertificateToStore");
    CertCloseStore(store, 0);
    return rc;
  }
  wchar_t name[256] = L"";
  CertGetNameStringW(added, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
  printf("trusted: %ls\n", name);
  CertFreeCertificateContext(added);
  CertCloseStore(store, 0);
  return 0;
}
