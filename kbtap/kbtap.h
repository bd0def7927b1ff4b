/* The keyboard-hook library's C interface: libkbtap.so watches the X server's keyboard for every
 * program and reports each key press and release to one window. Nothing else is shared between
 * the library and the program that loads it. */
#ifndef KBTAP_H
#define KBTAP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The message number of a key report (WM_USER + 100). */
#define KBTAP_WM_HOOKKEY 1124

/* A report arrives as an X ClientMessage of format 32 whose type is the atom of this name, sent to
 * the window given to SetHook. Its data.l[] holds, in this order:
 *   KBTAP_WM_HOOKKEY;
 *   wParam: the virtual-key code (Windows numbering, 1..254);
 *   lParam: the key-message flags: repeat count 1 in bits 0-15, the scan code in bits 16-23,
 *           bit 24 for an extended key, bit 29 while Alt is held, bits 30 and 31 set on release;
 *   the modifiers held when the key event happened: KBTAP_CTRL + KBTAP_ALT + KBTAP_SHIFT;
 *   the X server time of the key event, the time the focused window's own key event carries
 *   (0 where the key did not come from the X server). */
#define KBTAP_MESSAGE_ATOM "_KBTAP_HOOKKEY"
#define KBTAP_CTRL 1
#define KBTAP_ALT 2
#define KBTAP_SHIFT 4

/* Starts the watch and reports to the X window `window` (the program passes 1 as `mode`, the only
 * mode there is). A second call moves the reports to the new window. Without an X display, or with
 * window 0 (a program not on X), it does nothing. On a Wayland session whose desktop portal offers
 * global shortcuts, the list's keys are bound there instead of watched (see SetList); elsewhere on
 * Wayland the watch sees only keys typed into X programs, and the user is told so once. */
void SetHook(unsigned long window, int32_t mode);

/* Hands over the program's hotkey table (at most 99 entries are read); the library keeps a copy.
 * The X watch reports only keys of the list (with whatever modifiers; the program matches the
 * combinations itself), nothing before the first call, and nothing while another client holds
 * the keyboard grab (a screen locker). Through the
 * portal, entries 0 (Record / Pause) and 1 (Stop) are bound, anew at each call; a shortcut's
 * activation is reported as a press of the entry's key with the entry's modifiers, its
 * deactivation as the release (scan code from the local keyboard map, time 0). */
void SetList(const uint8_t* keys, const uint8_t* modifiers, int32_t count);

/* Stops the watch: returns when its thread has ended and its X connections are closed. */
void RemoveHook(void);

typedef void (*KbtapSetHook)(unsigned long window, int32_t mode);
typedef void (*KbtapSetList)(const uint8_t* keys, const uint8_t* modifiers, int32_t count);
typedef void (*KbtapRemoveHook)(void);

#ifdef __cplusplus
}
#endif

#endif /* KBTAP_H */
