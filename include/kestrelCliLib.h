/*
 * kestrelCliLib: the capture devices (webcams, microphones) of this machine and the
 * ones the user prefers, for a remote-desktop client that loads the library into its
 * own process.
 *
 * Usage: Mmdr_Init, then any calls with the handle on any thread, then Mmdr_Uninit
 * once. Every call answers afresh: nothing is cached between calls, each one reads the
 * settings (the registry on Windows, the XDG settings files on Linux) and asks the
 * system for its devices again. The library starts no thread and never calls back.
 *
 * Log: the library prints nothing unless the environment variable KESTREL_LOG asks for
 * its diagnostic log. Every Mmdr_Init reads it, so that a host may set it after loading
 * the library and change it between handles (on Windows it is read from the process's
 * environment block, where SetEnvironmentVariableW writes), and applies a value that
 * differs from the one applied last: "error", "info" or "debug" (any letter case) writes
 * the library's lines of that level and the more severe ones to standard error, and on
 * Windows to the debugger (OutputDebugStringW) as well; "LEVEL:PATH" (split at the first
 * colon) appends them to the file PATH instead (UTF-8; created with mode 0600 on Linux).
 * The first lines are what the library recorded before that Mmdr_Init. Unset, empty, any
 * other level, or a file that cannot be opened: nothing is printed. Lines are written on
 * the thread that makes a call, during it; a failed write is ignored and changes no
 * result, no errno and no last-error code. (What the system's own libraries print is
 * theirs: on Linux, in an SSH session whose forwarded X display is gone, libpulse reports
 * that on standard error when the library asks it for the sound server.)
 *
 * Results: every call but Mmdr_Uninit and Mmdr_GetLibVersion returns an MmdrResult.
 * Treat any code you do not know as a failure: later versions may add codes.
 *
 * Texts: UTF-8 in both directions, terminated by a zero byte on input. Output texts
 * go into fixed fields of MMDR_TEXT_FIELD_SIZE (260) bytes, see MmdrDeviceEntry.
 *
 * Ownership: the caller owns every buffer it passes; the library keeps no pointer
 * after a call returns. The handle belongs to the library: the caller only passes it
 * back and must not free or write it.
 */
#ifndef KESTREL_CLI_LIB_H
#define KESTREL_CLI_LIB_H

#include <stddef.h>
#include <stdint.h>

/* The calling convention of every exported function, stated once. */
#if defined(_WIN32)
#define MMDR_CALL __cdecl
#else
#define MMDR_CALL
#endif

/* Consumers import the functions from kestrelCliLib.dll; the library itself defines
 * MMDR_BUILDING_LIBRARY (its exports are listed in its module-definition file). On
 * Linux the library is built with hidden symbols, and its version script exports these
 * twelve from libkestrelCliLib.so.2. */
#if defined(_WIN32) && !defined(MMDR_BUILDING_LIBRARY)
#define MMDR_API __declspec(dllimport)
#elif !defined(_WIN32) && defined(__GNUC__)
#define MMDR_API __attribute__((visibility("default")))
#else
#define MMDR_API
#endif

/* Functions of this header that are compiled into the caller, not exported. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define MMDR_INLINE static inline
#elif defined(_MSC_VER)
#define MMDR_INLINE static __inline
#elif defined(__GNUC__)
#define MMDR_INLINE static __inline__
#else
#define MMDR_INLINE static
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version of the interface this header describes; Mmdr_GetLibVersion returns the
 * version of the loaded library. It is the major number of the package version (the
 * library's build checks that they agree). */
#define MMDR_LIB_VERSION 2

/* Size of one output text field: at most 259 bytes of UTF-8 are written into it. */
#define MMDR_TEXT_FIELD_SIZE 260
/* Size of one Mmdr_EnumDevices entry: an id field then a name field. */
#define MMDR_ENTRY_SIZE 520

/* Result codes. No call returns 9 or 10. */
typedef uint32_t MmdrResult;
enum MmdrResultCode {
  /* The call did its work. */
  MMDR_OK = 0,
  /* Mmdr_EnumDevices: the buffer is null or smaller than count x MMDR_ENTRY_SIZE. The
   * count has been delivered; no byte of the buffer was written. */
  MMDR_BUFFER_TOO_SMALL = 1,
  /* The handle is null, was never returned by Mmdr_Init, or has been closed. A closed
   * handle is refused without its memory being read; but once a newer handle has been
   * given the same address, the old pointer is that newer handle and cannot be told
   * from it. */
  MMDR_INVALID_HANDLE = 2,
  /* Mmdr_Init: null handleOut. Mmdr_EnumDevices: device kind not 1 or 2, or a null
   * countOut. */
  MMDR_INVALID_ARGUMENT = 3,
  /* Mmdr_GetPrefDev, Mmdr_SetPrefDev: device kind not 1 or 2. */
  MMDR_INVALID_DEVICE_KIND = 4,
  /* Mmdr_GetPrefDev: field selector not 0 or 1. */
  MMDR_INVALID_FIELD = 5,
  /* Memory ran out inside the call. Output buffers are left as they were (the count of
   * Mmdr_EnumDevices may have been delivered). */
  MMDR_OUT_OF_MEMORY = 6,
  /* A settings write failed (Mmdr_SetPrefDev, Mmdr_SetAudioInSelectOption), the
   * stored audio-in option is above 2 (Mmdr_GetAudioInSelectOption), or the call
   * failed in an unexpected way. */
  MMDR_FAILED = 7,
  /* Mmdr_Init: mode not 1 or 2. */
  MMDR_INVALID_MODE = 8,
  /* No value to deliver: a null output pointer, or no preferred device present. */
  MMDR_NO_DATA = 11
};

/* A short English name of a result code, for messages: "ok", "invalid handle" and so on;
 * "unknown" for a code this header does not know. */
MMDR_INLINE const char* Mmdr_ResultName(MmdrResult result) {
  switch (result) {
    case MMDR_OK: return "ok";
    case MMDR_BUFFER_TOO_SMALL: return "buffer too small";
    case MMDR_INVALID_HANDLE: return "invalid handle";
    case MMDR_INVALID_ARGUMENT: return "invalid argument";
    case MMDR_INVALID_DEVICE_KIND: return "invalid device kind";
    case MMDR_INVALID_FIELD: return "invalid field";
    case MMDR_OUT_OF_MEMORY: return "out of memory";
    case MMDR_FAILED: return "failed";
    case MMDR_INVALID_MODE: return "invalid mode";
    case MMDR_NO_DATA: return "no data";
    default: return "unknown";
  }
}

/* Device kinds: the kind argument of Mmdr_EnumDevices, Mmdr_GetPrefDev, Mmdr_SetPrefDev. */
typedef int32_t MmdrDeviceKind;
enum MmdrDeviceKindCode {
  MMDR_DEVICE_VIDEO = 1, /* video capture devices (webcams) */
  MMDR_DEVICE_AUDIO = 2  /* audio capture devices (microphones) */
};

/* Field selectors: the field argument of Mmdr_GetPrefDev. */
typedef int32_t MmdrPrefField;
enum MmdrPrefFieldCode {
  MMDR_PREF_NAME = 0, /* the device's display name */
  MMDR_PREF_ID = 1    /* the device's persistent id */
};

/* Modes of Mmdr_Init. The library stores the mode and behaves the same for both. */
enum MmdrModeCode { MMDR_MODE_1 = 1, MMDR_MODE_2 = 2 };

/* An open library handle; opaque to the caller. */
typedef struct MmdrHandle MmdrHandle;

/* One device as Mmdr_EnumDevices delivers it: 520 bytes, no padding.
 *
 * Text rule of both fields: at most 259 bytes of UTF-8 are written; a shorter text is
 * followed by zero bytes up to byte 258; a longer text is cut after 259 bytes, by
 * bytes, so the cut may split a multi-byte character. The last byte of a field (byte
 * 259) is never written: fill the buffer with zeros before the call to get every
 * field terminated.
 *
 * id: the device's persistent identifier; empty when the system gave none. Windows: the
 * device path of a webcam, the endpoint id or DirectSound interface text of a
 * microphone. Linux: a webcam's /dev/v4l/by-id link (else by-path, else /dev/videoN),
 * or for a camera that only PipeWire shows (listed after V4L2's) "pipewire:" and its
 * node.name (open it as a PipeWire stream whose target.object is the node.name); the
 * sound server's source name or the ALSA device name of a microphone.
 * name: the display name; two devices may carry the same one. */
typedef struct MmdrDeviceEntry {
  char id[MMDR_TEXT_FIELD_SIZE];
  char name[MMDR_TEXT_FIELD_SIZE];
} MmdrDeviceEntry;

/* Opens a handle. mode: 1 or 2. On MMDR_OK *handleOut holds the new handle; on any
 * other code *handleOut is unchanged and nothing was started or kept.
 * What a handle holds: when the machine-wide switch "EnableAInWasapi" selects the
 * library back end at this call (DirectSound on Windows, ALSA on Linux), a reference on
 * the library's shared instance of it, so that dsound.dll (libasound.so.2) stays loaded
 * while any handle holds one. When it cannot be loaded the handle holds nothing, and
 * every audio enumeration tries again for itself.
 * Checks in order: handleOut null (MMDR_INVALID_ARGUMENT); mode (MMDR_INVALID_MODE);
 * memory (MMDR_OUT_OF_MEMORY). */
MMDR_API MmdrResult MMDR_CALL Mmdr_Init(int32_t mode, MmdrHandle** handleOut);

/* Closes a handle and releases exactly what its Mmdr_Init took (its DirectSound or
 * ALSA reference, if any), whatever the switch says by now; the last release gives that
 * library back, which unloads it unless the host holds it too. On Linux, when alsa-lib
 * was not in the process before the library loaded it, the last release first frees
 * what alsa-lib cached (its configuration, the plug-ins it opened), which would keep it
 * loaded; a host that had loaded alsa-lib first keeps all of that as it was.
 * It also ends the handle's watch: its sound server connection and its descriptor.
 * Call it once per handle, after every other call on that handle has returned, but
 * Mmdr_WatchDevices, which may wait on another thread (that wait then ends); the handle
 * must not be used afterwards. A null, invalid or already closed
 * handle is ignored (there is no result to report it). */
MMDR_API void MMDR_CALL Mmdr_Uninit(MmdrHandle* handle);

/* MMDR_OK for an open handle of this library, MMDR_INVALID_HANDLE otherwise. */
MMDR_API MmdrResult MMDR_CALL Mmdr_IsValid(MmdrHandle* handle);

/* The interface version of the loaded library (MMDR_LIB_VERSION of its build). Needs
 * no handle; may be called at any time. */
MMDR_API uint32_t MMDR_CALL Mmdr_GetLibVersion(void);

/* Whether the administrator left the feature on: on MMDR_OK *enabledOut is 1
 * (enabled) or 0 (switched off machine-wide).
 * Checks in order: handle (MMDR_INVALID_HANDLE); enabledOut null (MMDR_NO_DATA). */
MMDR_API MmdrResult MMDR_CALL Mmdr_IsEnabled(MmdrHandle* handle, uint8_t* enabledOut);

/* Lists the devices of one kind present now, in the system's order, as an array of
 * MmdrDeviceEntry in buffer (bufferSize bytes).
 * Two-call pattern: call with a null buffer to learn the count (MMDR_BUFFER_TOO_SMALL
 * with *countOut set), then with count x MMDR_ENTRY_SIZE bytes. Devices may arrive in
 * between: a second MMDR_BUFFER_TOO_SMALL means "retry with the new count".
 * Checks in order: kind (MMDR_INVALID_ARGUMENT); handle (MMDR_INVALID_HANDLE);
 * countOut null (MMDR_INVALID_ARGUMENT). Then *countOut receives the count, on every
 * later path. No device: MMDR_OK, buffer untouched (it may be null). Buffer null or
 * too small: MMDR_BUFFER_TOO_SMALL, buffer untouched. Otherwise the first count x
 * MMDR_ENTRY_SIZE bytes are written and MMDR_OK returned; bytes after them keep their
 * values. A failed system enumeration shows as fewer devices, not as a failure. */
MMDR_API MmdrResult MMDR_CALL Mmdr_EnumDevices(MmdrHandle* handle, MmdrDeviceKind kind,
                                               uint32_t bufferSize, void* buffer,
                                               uint32_t* countOut);

/* The preferred device of a kind, as present now: its display name (MMDR_PREF_NAME)
 * or id (MMDR_PREF_ID), written into textOut (MMDR_TEXT_FIELD_SIZE bytes) by the text
 * rule of MmdrDeviceEntry (byte 259 is never written). The stored preference picks a
 * present device by exact id, else by an id containing the stored one, else by exact
 * name; the text delivered is that device's current one.
 * Checks in order: handle (MMDR_INVALID_HANDLE); textOut null (MMDR_NO_DATA); kind
 * (MMDR_INVALID_DEVICE_KIND); field (MMDR_INVALID_FIELD). MMDR_NO_DATA also when no
 * preference is stored, no stored device is present, or its text is empty; textOut is
 * then untouched. */
MMDR_API MmdrResult MMDR_CALL Mmdr_GetPrefDev(MmdrHandle* handle, MmdrDeviceKind kind,
                                              MmdrPrefField field, char* textOut);

/* Stores the current user's preferred device of a kind: its id and display name
 * (UTF-8; null stands for the empty text). An empty stored text lets the machine-wide
 * preference apply again. A microphone's name is stored only with a non-empty id:
 * setting a microphone with a null or empty id clears both texts.
 * Checks in order: handle (MMDR_INVALID_HANDLE); kind (MMDR_INVALID_DEVICE_KIND).
 * MMDR_FAILED when a settings write failed. Windows writes the id first, and a stored
 * id stays stored when the name write fails; Linux writes both in one replacement of
 * the settings file, so a failure leaves the file as it was. */
MMDR_API MmdrResult MMDR_CALL Mmdr_SetPrefDev(MmdrHandle* handle, MmdrDeviceKind kind,
                                              const char* id, const char* name);

/* The current user's audio-in selection option (0 when none is stored). Valid values
 * are 0, 1 and 2.
 * Checks in order: handle (MMDR_INVALID_HANDLE); optionOut null (MMDR_NO_DATA). Then
 * *optionOut receives the stored number whatever it is, and the result is MMDR_OK
 * when it is 2 or less, MMDR_FAILED when it is above. */
MMDR_API MmdrResult MMDR_CALL Mmdr_GetAudioInSelectOption(MmdrHandle* handle, uint32_t* optionOut);

/* Stores the current user's audio-in selection option. Any value is stored; only
 * Mmdr_GetAudioInSelectOption judges the range.
 * Checks: handle (MMDR_INVALID_HANDLE); settings write (MMDR_FAILED). */
MMDR_API MmdrResult MMDR_CALL Mmdr_SetAudioInSelectOption(MmdrHandle* handle, uint32_t option);

/* Following devices as they come and go (since library version 2.1.0).
 *
 * The library starts no thread for this either: the caller waits on its own thread in
 * Mmdr_WatchDevices, or puts the descriptor of Mmdr_GetWatchDescriptor into its own event
 * loop and calls Mmdr_WatchDevices with a zero timeout when that descriptor is ready. */

/* The kinds argument of Mmdr_WatchDevices and its result: one bit per device kind. */
enum MmdrWatchKindCode {
  MMDR_WATCH_VIDEO = 1 << (MMDR_DEVICE_VIDEO - 1), /* 1: webcams */
  MMDR_WATCH_AUDIO = 1 << (MMDR_DEVICE_AUDIO - 1), /* 2: microphones */
  MMDR_WATCH_ALL = MMDR_WATCH_VIDEO | MMDR_WATCH_AUDIO
};

/* Waits on the calling thread, at most timeoutMs milliseconds (0: does not wait), until
 * the devices (ids and names) of a kind in the mask kinds differ from what this handle
 * last saw of that kind, and delivers those kinds in *changedOut (0 when the time ran out).
 * What the handle last saw of a kind is what the latest Mmdr_EnumDevices or
 * Mmdr_WatchDevices on it found; a kind the handle has neither listed nor watched takes
 * the devices present as its first watch starts. So a caller that lists, then watches,
 * misses no device that came or went in between. A kind is named only when its devices
 * really differ: the system's events of about 200 ms are taken together, and a device
 * plugged and pulled within them changes nothing. A report is followed by
 * Mmdr_EnumDevices for the kinds named, which also makes that list the one last seen.
 * Where the changes come from: Linux: the device folders (inotify on the V4L2 nodes, their
 * /dev/v4l links and the ALSA device folder) and the sound server's events, through a
 * connection this handle keeps from its first audio watch until Mmdr_Uninit (that first
 * watch waits up to half a second for the connection to be set up; while no server
 * answers, it is tried again every second); and PipeWire's registry, through a connection
 * kept from the first webcam watch while a PipeWire daemon answers (a daemon that starts
 * later is noticed by its socket). Windows: the audio endpoints' notifications
 * (either audio back end) and the system's device-interface notifications for webcams;
 * where the system has none of the latter, the webcams, once watched, are listed again
 * every 500 ms within the watches (and the descriptor is ready at that pace).
 * Several threads may watch one handle; they take turns.
 * Checks in order: handle (MMDR_INVALID_HANDLE); changedOut null (MMDR_NO_DATA); kinds 0
 * or with a bit other than MMDR_WATCH_ALL's (MMDR_INVALID_ARGUMENT). Then *changedOut
 * receives the kinds on every later path (0 on a failure). MMDR_INVALID_HANDLE also when
 * Mmdr_Uninit closes the handle while the call waits: the wait ends within 200 ms, and what
 * the call was using is freed as it returns. MMDR_FAILED when the system refused what
 * the watch needs (descriptors, events). */
MMDR_API MmdrResult MMDR_CALL Mmdr_WatchDevices(MmdrHandle* handle, uint32_t kinds,
                                                uint32_t timeoutMs, uint32_t* changedOut);

/* The handle's watch descriptor, for a caller's event loop: on Linux a file descriptor
 * (int) that becomes readable, on Windows an event HANDLE that becomes signalled, when
 * Mmdr_WatchDevices with a zero timeout may have something to report. Do not read, reset,
 * wait on it with an edge trigger or close it: the handle owns it, and the next
 * Mmdr_WatchDevices brings it back to rest (it may be ready at times when that call then
 * finds nothing to report: a burst still settling, or an event that changed nothing).
 * Mmdr_Uninit closes it (or, when a watch waits then, that watch as it returns). It is
 * not inherited by programs the host starts (close-on-exec; not inheritable). The kinds
 * it follows are those watched so far on this handle: call Mmdr_WatchDevices once with a
 * zero timeout for the kinds wanted before waiting on it.
 * Checks in order: handle (MMDR_INVALID_HANDLE); out null (MMDR_NO_DATA). MMDR_FAILED
 * when the system refused what the watch needs. The same value on every call. */
MMDR_API MmdrResult MMDR_CALL Mmdr_GetWatchDescriptor(MmdrHandle* handle, intptr_t* out);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The binary interface, pinned. */
#if defined(__cplusplus)
#define MMDR_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define MMDR_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
/* Before C11: a negative array size stops the build; the same declaration may repeat. */
#define MMDR_STATIC_ASSERT(condition, message) \
  extern char mmdr_static_assertion[(condition) ? 1 : -1]
#endif

MMDR_STATIC_ASSERT(MMDR_TEXT_FIELD_SIZE == 260, "text field is 260 bytes");
MMDR_STATIC_ASSERT(MMDR_ENTRY_SIZE == 2 * MMDR_TEXT_FIELD_SIZE, "entry is two fields");
MMDR_STATIC_ASSERT(sizeof(MmdrDeviceEntry) == MMDR_ENTRY_SIZE, "entry is 520 bytes");
MMDR_STATIC_ASSERT(offsetof(MmdrDeviceEntry, id) == 0, "id field first");
MMDR_STATIC_ASSERT(offsetof(MmdrDeviceEntry, name) == MMDR_TEXT_FIELD_SIZE,
                   "name field right after the id field");
MMDR_STATIC_ASSERT(sizeof(MmdrResult) == 4 && sizeof(MmdrDeviceKind) == 4 &&
                       sizeof(MmdrPrefField) == 4,
                   "codes are 32-bit");
MMDR_STATIC_ASSERT(MMDR_OK == 0 && MMDR_BUFFER_TOO_SMALL == 1 && MMDR_INVALID_HANDLE == 2 &&
                       MMDR_INVALID_ARGUMENT == 3 && MMDR_INVALID_DEVICE_KIND == 4 &&
                       MMDR_INVALID_FIELD == 5 && MMDR_OUT_OF_MEMORY == 6 && MMDR_FAILED == 7 &&
                       MMDR_INVALID_MODE == 8 && MMDR_NO_DATA == 11,
                   "result code values");
MMDR_STATIC_ASSERT(MMDR_DEVICE_VIDEO == 1 && MMDR_DEVICE_AUDIO == 2, "device kind values");
MMDR_STATIC_ASSERT(MMDR_WATCH_VIDEO == 1 && MMDR_WATCH_AUDIO == 2 && MMDR_WATCH_ALL == 3,
                   "watch kind bits");
MMDR_STATIC_ASSERT(MMDR_PREF_NAME == 0 && MMDR_PREF_ID == 1, "field selector values");

#endif /* KESTREL_CLI_LIB_H */
