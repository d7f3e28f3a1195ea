#pragma once
#include <windows.h>

// Builds the wizard's pages in their fixed order and runs it modally; returns when
// Finish has been pressed on one of the two finish pages.
void RunInstallerWizard(HINSTANCE instance);

// One dialog procedure per page; the two finish pages share one.
INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FinishedPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
