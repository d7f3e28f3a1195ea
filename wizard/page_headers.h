#pragma once
// The header band's title and subtitle of each page, in the wizard's order: read by
// the frame that builds the pages and by the art that paints the band, so they live
// apart from both.

// The header title and subtitle of the page at INDEX in the wizard's order; false for
// the pages without header (the welcome and the two finish pages).
bool PageHeaderTexts(int index, const wchar_t*& title, const wchar_t*& subtitle);
