#pragma once
#include <QWidget>
#include <string>

// The keyboard-hook library libkbtap.so, loaded from the executable's own directory and kept for
// the whole run.
namespace larkspur {

// Shown when the library can't be loaded or has no SetHook.
inline constexpr char kHookLibraryError[] = "DLL: Can't loading program";

// The main window's start-up step: loads the library from `directory`, starts the hook for
// `window`, loads HotKey.ini and hands the table to the library. A library that can't be loaded or
// lacks SetHook: the message once, then the process ends with exit code 1. A HotKey.ini value that
// is not a number raises the conversion error before the table is handed over.
void InstallHook(WId window, const std::string& directory);
// Hands the table to the library; nothing happens without the library or its SetList.
void HandHotKeysToLibrary();
// The main window's close step: stops the hook, when the library and its RemoveHook are there.
void UninstallHook();

}  // namespace larkspur
