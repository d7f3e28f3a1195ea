#include "mods/catalog.h"

// The URLs are fixed when the program is built (test and demo builds point them at a
// local server); nothing is read at run time.
#ifndef MOD_URL_0
#error "MOD_URL_0, MOD_URL_1 and MOD_URL_2 come from the build"
#endif
// So are the SHA-256 pins of a release; empty leaves a row unpinned.
#ifndef MOD_SHA256_0
#define MOD_SHA256_0 ""
#endif
#ifndef MOD_SHA256_1
#define MOD_SHA256_1 ""
#endif
#ifndef MOD_SHA256_2
#define MOD_SHA256_2 ""
#endif

ModEntry ModCatalog[ModCount] = {
    {MOD_URL_0, L"brassfinch.velloa_simple_voice_mod_2017.2.smpkg",
     L"brassfinch Velloa SimpleVoice", L"シンプルなVelloaのサウンドMOD", false, false,
     MOD_SHA256_0, L"velloa"},
    {MOD_URL_1, L"fieldwatch.zip", L"Fieldwatch", L"Fieldwatch", true, false, MOD_SHA256_1,
     L"fieldwatch"},
    {MOD_URL_2, L"qvx-8.3.5.zip", L"QVX", L"Offcial QVX", true, false, MOD_SHA256_2, L"qvx"},
};

int SelectedModCount()
{
    int count = 0;
    for (const ModEntry& mod : ModCatalog)
        if (mod.selected) ++count;
    return count;
}
