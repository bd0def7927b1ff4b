#include "hotkeys/hook_library.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

#include "hotkeys/hotkey_table.h"
#include "kbtap/kbtap.h"
#include "platform/message_box.h"

namespace larkspur {
namespace {

// Loaded by absolute path, never through the library search path or the current directory;
// never released before the process ends.
void* HookLibrary = nullptr;

template <class F>
F Export(const char* name) {
    return HookLibrary ? reinterpret_cast<F>(dlsym(HookLibrary, name)) : nullptr;
}

[[noreturn]] void Fail(void* library) {
    ShowPlainMessage(QString::fromLatin1(kHookLibraryError));
    if (library) dlclose(library);
    // No window exists yet and nothing needs saving; leave before Qt's teardown could run against
    // a half-built main window.
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace

void InstallHook(WId window, const std::string& directory) {
    void* library = dlopen((directory + "/libkbtap.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) Fail(nullptr);
    auto set_hook = reinterpret_cast<KbtapSetHook>(dlsym(library, "SetHook"));
    if (!set_hook) Fail(library);
    HookLibrary = library;
    set_hook(static_cast<unsigned long>(window), 1);
    LoadHotKeys();
    HandHotKeysToLibrary();
}

void HandHotKeysToLibrary() {
    if (auto set_list = Export<KbtapSetList>("SetList")) set_list(HotKeyCodes, CASKeyCodes, HotKeyCount);
}

void UninstallHook() {
    if (auto remove_hook = Export<KbtapRemoveHook>("RemoveHook")) remove_hook();
}

}  // namespace larkspur
