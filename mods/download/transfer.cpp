#include "mods/download/transfer.h"

bool SplitUrl(const wchar_t* url, UrlParts& parts)
{
    URL_COMPONENTSW components = {};
    components.dwStructSize = sizeof components;
    components.lpszHostName = parts.host;
    components.dwHostNameLength = 256;
    components.lpszUrlPath = parts.target;
    components.dwUrlPathLength = 256;
    if (!InternetCrackUrlW(url, (DWORD)lstrlenW(url), 0, &components)) return false;
    parts.scheme = components.nScheme;
    parts.port = components.nPort;
    return true;
}
