/* The calls between the test driver (kernel side, C) and its bridge DLL
 * (user side under Wine, C++), which answers request blocks from the
 * simulated controller. The driver hands over every create, device-control
 * and close of its control device and returns STATUS_PENDING; the bridge
 * carries them out one after another on its own thread and hands each back
 * through the completion call, so the driver's request thread never waits
 * for a state file lock. */
#ifndef ORN5300_TEST_BRIDGE_H
#define ORN5300_TEST_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef ORN_BRIDGE_BUILD
#define ORN_BRIDGE_API __declspec(dllexport)
#else
#define ORN_BRIDGE_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Where a session keeps its simulator state (Windows paths, NUL-terminated
 * UTF-16). An empty trace or log path turns that output off. */
typedef struct OrnBridgeSettings {
  const wchar_t* state_file;
  const wchar_t* trace_file;
  const wchar_t* log_file;
} OrnBridgeSettings;

/* Hands a request back to the driver: `error` 0 means success with
 * `returned` bytes of reply in the request's buffer; otherwise it is the
 * Windows error number the request fails with. */
typedef void (*OrnBridgeCompletion)(void* request, uint32_t error, uint32_t returned);

/* Starts the bridge's thread. 0 on success, else a Windows error number. */
ORN_BRIDGE_API uint32_t OrnBridgeStart(OrnBridgeCompletion complete);

/* Finishes every session (saving its state), fails the requests still
 * waiting with ERROR_OPERATION_ABORTED, and ends the thread. Requests that
 * come later fail at once. */
ORN_BRIDGE_API void OrnBridgeStop(void);

/* A new handle on the control device. Sessions take the state file in the
 * order they were opened; a later one waits until the earlier ones closed.
 * The settings are copied. */
ORN_BRIDGE_API void OrnBridgeOpen(void* session, void* request, const OrnBridgeSettings* settings);

/* One device-control request of `session`: `buffer` holds `in_len` bytes of
 * input and has room for max(in_len, out_len) bytes. */
ORN_BRIDGE_API void OrnBridgeControl(void* session, void* request, uint32_t code, uint8_t* buffer,
                                     uint32_t in_len, uint32_t out_len);

/* The handle is closed: the session's state is saved and the file released. */
ORN_BRIDGE_API void OrnBridgeClose(void* session, void* request);

#ifdef __cplusplus
}
#endif

#endif
