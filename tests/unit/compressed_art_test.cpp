// Every picture the installer exe stores becomes the bitmap, size and pixels, that
// LoadImage makes of the BMP file make_art.py drew.
#include "wizard/compressed_art.h"

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/unit/test_files.h"

namespace {

struct StoredPicture {
    int id;
    const wchar_t* drawnFile;
};

// A test is named after its picture's file.
void PrintTo(const StoredPicture& picture, std::ostream* out)
{
    *out << Utf8(picture.drawnFile);
}

// Width, height and the pixels in the screen's format.
std::string SizeAndPixels(HBITMAP bitmap)
{
    BITMAP facts = {};
    GetObjectW(bitmap, sizeof facts, &facts);
    std::string pixels((size_t)facts.bmWidthBytes * facts.bmHeight, '\0');
    GetBitmapBits(bitmap, (LONG)pixels.size(), &pixels[0]);
    return std::to_string(facts.bmWidth) + "x" + std::to_string(facts.bmHeight) + " " + pixels;
}

class CompressedArtTest : public ::testing::TestWithParam<StoredPicture> {};

TEST_P(CompressedArtTest, IsTheBitmapOfTheDrawnFile)
{
    static HMODULE installer = LoadLibraryExW(BuildFile(L"ZelkorsModsPackSetup.exe").c_str(),
                                              nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    std::wstring drawnFile = BuildFile(std::wstring(L"art\\") + GetParam().drawnFile);
    HBITMAP stored = LoadCompressedArt(installer, GetParam().id);
    HBITMAP drawn = (HBITMAP)LoadImageW(nullptr, drawnFile.c_str(), IMAGE_BITMAP, 0, 0,
                                        LR_LOADFROMFILE);
    ASSERT_TRUE(stored && drawn);
    std::string storedPicture = SizeAndPixels(stored), drawnPicture = SizeAndPixels(drawn);
    EXPECT_EQ(drawnPicture.substr(0, drawnPicture.find(' ')),
              storedPicture.substr(0, storedPicture.find(' ')));
    EXPECT_TRUE(storedPicture == drawnPicture);
    DeleteObject(stored);
    DeleteObject(drawn);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPicture, CompressedArtTest,
    ::testing::Values(StoredPicture{IDB_WATERMARK, L"watermark.bmp"},
                      StoredPicture{IDB_HEADER, L"header.bmp"},
                      StoredPicture{IDB_WATERMARK_120, L"watermark_120.bmp"},
                      StoredPicture{IDB_HEADER_120, L"header_120.bmp"},
                      StoredPicture{IDB_WATERMARK_144, L"watermark_144.bmp"},
                      StoredPicture{IDB_HEADER_144, L"header_144.bmp"},
                      StoredPicture{IDB_WATERMARK_192, L"watermark_192.bmp"},
                      StoredPicture{IDB_HEADER_192, L"header_192.bmp"}));

}  // namespace
