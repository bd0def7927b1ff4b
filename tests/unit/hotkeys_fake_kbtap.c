/* A stand-in for libkbtap.so that records how the program calls it. Built three times: complete,
 * without SetList (FAKE_NO_SETLIST) and without SetHook (FAKE_NO_SETHOOK). */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "support/hotkeys_fake_log.h"

#define EXPORT __attribute__((visibility("default")))

EXPORT struct FakeLog fake_log;

#ifndef FAKE_NO_SETHOOK
EXPORT void SetHook(unsigned long window, int32_t mode) {
    ++fake_log.set_hook_calls;
    fake_log.window = window;
    fake_log.mode = mode;
}
#endif

#ifndef FAKE_NO_SETLIST
EXPORT void SetList(const uint8_t* keys, const uint8_t* modifiers, int32_t count) {
    ++fake_log.set_list_calls;
    fake_log.keys = keys;
    fake_log.modifiers = modifiers;
    fake_log.count = count;
    memset(fake_log.ini_at_set_list, 0, sizeof fake_log.ini_at_set_list);
    FILE* file = fake_log.ini_path[0] ? fopen(fake_log.ini_path, "rb") : NULL;
    if (file) {
        size_t n = fread(fake_log.ini_at_set_list, 1, sizeof fake_log.ini_at_set_list - 1, file);
        (void)n;
        fclose(file);
    }
}
#endif

EXPORT void RemoveHook(void) { ++fake_log.remove_hook_calls; }
