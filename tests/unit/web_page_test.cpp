// Web pages told from files by their type and by their first bytes, however the bytes
// are split into reads.
#include <gtest/gtest.h>

#include <string>

#include "mods/download/web_page.h"

namespace {

// Feeds body in reads of `step` bytes, then the end; whether it was taken for a page.
bool SniffedInSteps(const std::string& body, size_t step)
{
    WebPageSniffer sniffer;
    for (size_t at = 0; at < body.size(); at += step)
        if (SniffWebPage(sniffer, body.data() + at, std::min(step, body.size() - at), false))
            return true;
    return SniffWebPage(sniffer, nullptr, 0, true);
}

}  // namespace

TEST(WebPage, TypesOfPagesAnyCaseAnyParameters)
{
    for (const wchar_t* page : {L"text/html", L"TEXT/HTML; charset=utf-8", L" text/html ;x=1",
                                L"application/xhtml+xml"})
        EXPECT_TRUE(IsWebPageType(page)) << page;
    for (const wchar_t* file : {L"", L"application/octet-stream", L"application/zip",
                                L"text/plain", L"text/html-sandboxed", L"text/htm"})
        EXPECT_FALSE(IsWebPageType(file)) << file;
}

TEST(WebPage, FirstBytesOfPagesInAnyReadsAndOfFilesThatLookAlike)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string pages[] = {"<!DOCTYPE html><html>", "<html lang=ja>", "<HTML>",
                                 bom + " \r\n\t<!doctype HTML>\n", "\n\n<Html>"};
    const std::string files[] = {"PK\x03\x04", "SMPKG\x01", "<?xml version=\"1.0\"?><html>",
                                 "<!DOCTYPE svg>", "<htm", bom, "", "  text <html>",
                                 std::string(2000, ' ') + "<html>", "\xEF\xBB<html>"};
    for (size_t step : {1u, 2u, 5u, 4096u}) {
        for (const std::string& page : pages) EXPECT_TRUE(SniffedInSteps(page, step)) << page;
        for (const std::string& file : files) EXPECT_FALSE(SniffedInSteps(file, step)) << file;
    }
}
