/* The exports of log.dll, a file logger that any number of modules of one process write to.
 *
 * Plain C names and types, so that hosts built with any compiler can call them; load the
 * library and resolve them with GetProcAddress, or link the import library. Every function may
 * be called from any thread. Settings, defaults and the line format: log/README.md. log.dll
 * implements this interface and devicescan.dll's binding (CLogDLL) calls it; both include this
 * header, so the two cannot disagree.
 */
#pragma once

#include <windows.h>

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
#include <cstdint>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Severities. A record is written when its severity value is at most the level. */
#define LOG_SEVERITY_ERROR 0x4u
#define LOG_SEVERITY_WARNING 0x8u
#define LOG_SEVERITY_INFO 0x20u
#define LOG_SEVERITY_DEBUG 0x40u
#define LOG_LEVEL_ALL 0xFFFFFFFFu

/* Depth values of LogWrite (a 16-bit value, zero-extended). */
#define LOG_DEPTH_MESSAGE 0x0u  /* a record inside the current trace level */
#define LOG_DEPTH_ENTER 0x1u    /* a function entry: later records of the thread go one deeper */
#define LOG_DEPTH_LEAVE 0xFFFFu /* a function exit: this record and later ones one level up */

/* Output types (LogSetType), combined with |. */
#define LOG_TYPE_FILE 0x1u     /* the log file */
#define LOG_TYPE_DEBUGGER 0x2u /* OutputDebugStringW */

/* Flush modes (LogSetMode). */
#define LOG_MODE_FLUSH_EACH_LINE 0u /* every line reaches the file before LogWrite returns */
#define LOG_MODE_BUFFERED 1u /* errors and warnings at once, other lines in blocks (README.md) */

/* Begins a use of the library; counted, each LogInit is matched by one LogDeinit. The first
 * reads the settings file. Writing without LogInit works too. */
void LogInit(void);
/* Ends a use; the last one writes out buffered lines and closes the file. */
void LogDeinit(void);

/* Writes one record: format is a wide printf format with the rules of the Windows C runtime
 * (%s is a wide string, %hs a narrow one, %d and %u 32-bit, %llu 64-bit) and args its
 * arguments. depth is LOG_DEPTH_ENTER, LOG_DEPTH_LEAVE or LOG_DEPTH_MESSAGE and moves the
 * calling thread's indentation; module is the writing module (its file name is printed; null
 * stands for the program); function may be null.
 * Returns S_OK when written, S_FALSE when filtered out (disabled, level, depth limit),
 * E_POINTER for a null severity or format, or the failure of opening the log file. */
HRESULT LogWrite(uint32_t depth, const uint32_t* severity, HMODULE module, const wchar_t* function,
                 const wchar_t* format, va_list args);

/* Writes out what is buffered. There is no telemetry channel: events go to the log file. */
void LogUninitTelemetry(void);
/* A module that wrote records is going away: what it wrote is written out now. caller names
 * the code that says so; it is not printed. */
void LogRemoveModule(const char* caller);

/* Reads the settings file again and applies it: keys it lacks, or whose values are bad, take
 * their defaults; values given through the setters below are replaced. S_OK when the file was
 * read without a problem, S_FALSE when it is missing or a value fell back to its default. */
HRESULT LogApplySettings(void);
/* Uses path as the settings file from now on (null: log.ini beside the library) and applies it
 * as LogApplySettings does. */
HRESULT LogSetSettingsFile(const wchar_t* path);

/* The setters change the running library until the settings are applied again. */
void LogEnable(BOOL enable);
void LogSetLevel(uint32_t level);
/* The log file; null or empty: the default. A relative path is taken from the library's
 * directory. E_INVALIDARG for a path longer than 32767 characters. The file is opened at the
 * next write; when it cannot be, the default file is used and a warning says why. */
HRESULT LogSetPath(const wchar_t* path);
/* E_INVALIDARG for 0 or unknown bits. */
HRESULT LogSetType(uint32_t type);
/* E_INVALIDARG for an unknown mode. */
HRESULT LogSetMode(uint32_t mode);
/* Rotates the file before it would grow beyond bytes; 0: never. E_INVALIDARG below 1024. */
HRESULT LogSetMaxSize(uint64_t bytes);
/* Records nested deeper than depth trace levels are not written; 0: no limit. */
void LogSetDepth(uint32_t depth);
BOOL LogIsEnabled(void);
/* While on, a changed settings file is applied within about a second (checked on writes). */
void LogMonitorSettings(BOOL enable);
uint32_t LogGetLevel(void);

/* Writes an event line (severity INFO, function "event") for the calling module. */
HRESULT LogTrackEvent(const wchar_t* name);
HRESULT LogTrackEventData(const wchar_t* name, const wchar_t* data);

/* Function pointer types, for GetProcAddress. */
typedef void (*LogInitFunction)(void);
typedef void (*LogDeinitFunction)(void);
typedef HRESULT (*LogWriteFunction)(uint32_t, const uint32_t*, HMODULE, const wchar_t*,
                                    const wchar_t*, va_list);
typedef void (*LogUninitTelemetryFunction)(void);
typedef void (*LogRemoveModuleFunction)(const char*);
typedef HRESULT (*LogApplySettingsFunction)(void);
typedef HRESULT (*LogSetSettingsFileFunction)(const wchar_t*);
typedef void (*LogEnableFunction)(BOOL);
typedef void (*LogSetLevelFunction)(uint32_t);
typedef HRESULT (*LogSetPathFunction)(const wchar_t*);
typedef HRESULT (*LogSetTypeFunction)(uint32_t);
typedef HRESULT (*LogSetModeFunction)(uint32_t);
typedef HRESULT (*LogSetMaxSizeFunction)(uint64_t);
typedef void (*LogSetDepthFunction)(uint32_t);
typedef BOOL (*LogIsEnabledFunction)(void);
typedef void (*LogMonitorSettingsFunction)(BOOL);
typedef uint32_t (*LogGetLevelFunction)(void);
typedef HRESULT (*LogTrackEventFunction)(const wchar_t*);
typedef HRESULT (*LogTrackEventDataFunction)(const wchar_t*, const wchar_t*);

#ifdef __cplusplus
}

namespace devicescan::logging {

// The severities and depth markers as typed constants for C++ callers; the values are the ones
// above.
inline constexpr std::uint32_t LOG_ERROR = LOG_SEVERITY_ERROR;      // a failure
inline constexpr std::uint32_t LOG_WARNING = LOG_SEVERITY_WARNING;  // unexpected, but handled
inline constexpr std::uint32_t LOG_INFO = LOG_SEVERITY_INFO;        // information and trace lines
inline constexpr std::uint16_t kDepthMessage = LOG_DEPTH_MESSAGE;
inline constexpr std::uint16_t kDepthEnter = LOG_DEPTH_ENTER;
inline constexpr std::uint16_t kDepthLeave = LOG_DEPTH_LEAVE;

}  // namespace devicescan::logging
#endif
