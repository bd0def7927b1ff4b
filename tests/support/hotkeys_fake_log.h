/* What the stand-in libkbtap.so records of the program's calls (shared by the C stand-in and the
 * C++ tests). */
#ifndef HOTKEYS_FAKE_LOG_H
#define HOTKEYS_FAKE_LOG_H
#include <stdint.h>

struct FakeLog {
    int set_hook_calls;
    unsigned long window;
    int32_t mode;
    int set_list_calls;
    const uint8_t* keys;
    const uint8_t* modifiers;
    int32_t count;
    int remove_hook_calls;
    char ini_path[4096];         /* set by a test: SetList copies this file below */
    char ini_at_set_list[4096];  /* HotKey.ini as SetList found it */
};

#endif
