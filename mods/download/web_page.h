#pragma once
// Telling a web page from a mod before it is written: café and hotel networks answer
// every request with their sign-in page, and file hosts answer a moved file with an
// error page and status 200, often labelled as a binary. Installed, either would be a
// file the game tries to load.
#include <cstddef>
#include <string>

// text/html or application/xhtml+xml, whatever the parameters and the case.
bool IsWebPageType(const std::wstring& contentType);

// Watches a body's first bytes as they arrive, over as many reads as it takes: after an
// optional UTF-8 byte order mark and white space, "<!DOCTYPE html" or "<html" in any
// case makes it a web page.
struct WebPageSniffer {
    std::string head;  // the bytes seen so far, while undecided
    bool decided = false;
    bool webPage = false;
};

// Feeds the next bytes (atEnd: the body has none after them). True once it is known
// that the body is a web page; a body decided to be something else is not looked at
// again.
bool SniffWebPage(WebPageSniffer& sniffer, const char* bytes, size_t count, bool atEnd);
