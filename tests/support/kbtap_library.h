// The built libkbtap.so, loaded from the program's output folder as the program loads it, and
// unloaded with the object.
#pragma once
#include <QDir>
#include <cstdlib>
#include <dlfcn.h>
#include <string>

#include "kbtap/kbtap.h"

namespace larkspur::testing {

struct KbtapLibrary {
    void* handle = nullptr;
    KbtapSetHook SetHook = nullptr;
    KbtapSetList SetList = nullptr;
    KbtapRemoveHook RemoveHook = nullptr;

    KbtapLibrary() {
        const std::string path = std::string(std::getenv("LARKSPUR_OUT_DIR")) + "/libkbtap.so";
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        SetHook = reinterpret_cast<KbtapSetHook>(dlsym(handle, "SetHook"));
        SetList = reinterpret_cast<KbtapSetList>(dlsym(handle, "SetList"));
        RemoveHook = reinterpret_cast<KbtapRemoveHook>(dlsym(handle, "RemoveHook"));
    }
    ~KbtapLibrary() {
        if (handle) dlclose(handle);
    }
    KbtapLibrary(const KbtapLibrary&) = delete;
    KbtapLibrary& operator=(const KbtapLibrary&) = delete;
};

// The entries of a folder of /proc: a process's threads (task) or open files (fd).
inline int CountEntries(const char* dir) {
    return static_cast<int>(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

}  // namespace larkspur::testing
