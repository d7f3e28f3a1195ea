#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Builds the wizard's pages in their fixed order and runs it modally; returns when
// Finish has been pressed on one of the two finish pages.
void RunInstallerWizard(HINSTANCE instance);

// One dialog procedure per page.
INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FinishedPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FailedPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FolderPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ModSelectPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ConfirmPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DownloadPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InstallPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The finished page is earned only when every ticked mod arrived and installed.
bool EverythingInstalled(int selectedMods, size_t downloadedFiles, int installFailures);

// Whether a tree item's check box state image means "install this mod".
bool IsTickedStateImage(unsigned stateImage);

// The failed page's account of the run: a line saying the user cancelled, if so,
// then one line per ticked row in catalogue order with what became of it.
std::vector<std::wstring> OutcomeLines();

// The confirmation summary: a fixed header, then one line per selected row.
extern const wchar_t SummaryHeader[];
std::vector<std::wstring> SummaryLines();
