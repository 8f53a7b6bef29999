/* The platform's kernel facilities: the small set of Windows kernel calls that the
 * module, its snap-ins and hosts are written against, provided on POSIX.
 *
 * Every call validates its arguments: null pointers, unknown handles and closed
 * handles give the Windows failure value and set the thread's last error; nothing
 * here crashes on bad input. */
#ifndef RUZADA_KERNEL_H
#define RUZADA_KERNEL_H

#include <stdarg.h>
#include <stddef.h>

#include "wintypes.h"

/* Windows error codes the platform produces. */
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_NOT_READY 21u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_ALREADY_ASSIGNED 85u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_BUSY 170u
#define ERROR_BAD_EXE_FORMAT 193u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_MR_MID_NOT_FOUND 317u
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814u

/* ---- last error ------------------------------------------------------------ */
RZ_PLATFORM_API DWORD GetLastError(void);
RZ_PLATFORM_API void SetLastError(DWORD code);
/* The Windows code a Windows program would see for an errno value. */
RZ_PLATFORM_API DWORD ErrnoToWinError(int err);

/* ---- system message texts -------------------------------------------------- */
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x0100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x0200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u
/* Looks `code` up in the platform's table of system texts (the Windows wording,
 * each ending in "\r\n"); wave-audio result codes are looked up in the same table,
 * as Windows does. FORMAT_MESSAGE_FROM_SYSTEM is required (ERROR_INVALID_PARAMETER
 * otherwise); `source`, `language` and `arguments` are not used, and insert
 * sequences such as "%1" are always left as they are. With
 * FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a char** that receives a block
 * of at least `size` bytes, to be released with LocalFree; without it, the text and
 * its terminator must fit in `size` bytes (ERROR_INSUFFICIENT_BUFFER otherwise).
 * Returns the text length; 0, with ERROR_MR_MID_NOT_FOUND, when the code has no
 * text (the allocated pointer is then null and there is nothing to release).
 *
 * For the loader's codes (126, 193) on the thread whose LoadLibraryA failed with
 * that code, the text carries the dynamic loader's reason before the line end:
 * "The specified module could not be found. (<reason>)\r\n". */
RZ_PLATFORM_API DWORD FormatMessageA(DWORD flags, const void* source, DWORD code, DWORD language, char* buffer,
                                     DWORD size, va_list* arguments);
RZ_PLATFORM_API HLOCAL LocalFree(HLOCAL block);

/* ---- handles and events ---------------------------------------------------- */
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64u

/* Events live on eventfd. Unnamed only: a `name` fails with ERROR_NOT_SUPPORTED;
 * `security` is ignored. */
RZ_PLATFORM_API HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, const char* name);
RZ_PLATFORM_API BOOL SetEvent(HANDLE event);
RZ_PLATFORM_API BOOL ResetEvent(HANDLE event);
/* Closing drops the handle; a wait already under way keeps its object alive. */
RZ_PLATFORM_API BOOL CloseHandle(HANDLE object);
/* Waits on an event, a thread (signalled when it has ended) or another waitable
 * object of the platform; WAIT_FAILED with ERROR_INVALID_HANDLE for a bad handle
 * or one that cannot be waited on. */
RZ_PLATFORM_API DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
/* Wait-any: the lowest signalled index wins, and only that object's signal is
 * taken. `waitAll` TRUE fails with ERROR_NOT_SUPPORTED; a count of 0 or above
 * MAXIMUM_WAIT_OBJECTS fails with ERROR_INVALID_PARAMETER. */
RZ_PLATFORM_API DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);
/* A descriptor that polls readable while the object is signalled, for hosts
 * that wait on it beside their own descriptors; -1 for a bad handle or an object
 * that cannot be waited on. It stays the handle's: do not close it. Polling does
 * not take an auto-reset event's signal: follow a readable poll with
 * WaitForSingleObject(object, 0). */
RZ_PLATFORM_API int GetHandleFd(HANDLE object);

/* ---- critical sections ----------------------------------------------------- */
/* Re-entrant, as Windows critical sections are. Storage is the caller's. A null
 * section, or one whose `impl` is null (zero-initialised, or deleted), is ignored
 * by every call. */
typedef struct CRITICAL_SECTION {
    void* impl;
} CRITICAL_SECTION;
RZ_PLATFORM_API void InitializeCriticalSection(CRITICAL_SECTION* section);
/* A section that another thread is in when it is deleted stays that thread's and
 * is never freed: a thread given up inside a call out (outcall.h) never leaves it,
 * and its waiters wait on for ever rather than on freed memory. */
RZ_PLATFORM_API void DeleteCriticalSection(CRITICAL_SECTION* section);
RZ_PLATFORM_API void EnterCriticalSection(CRITICAL_SECTION* section);
RZ_PLATFORM_API BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
RZ_PLATFORM_API void LeaveCriticalSection(CRITICAL_SECTION* section);

/* ---- threads --------------------------------------------------------------- */
typedef DWORD (*LPTHREAD_START_ROUTINE)(void* parameter);
#define CREATE_SUSPENDED 0x00000004u
#define STILL_ACTIVE 259u

/* A thread created while an attach gate is closed (see BeginModuleAttach) starts
 * its routine only after the gate opens, as Windows holds threads created in
 * DllMain. `security` is ignored; `stackSize` 0 takes the default; of `flags` only
 * CREATE_SUSPENDED counts. The handle is signalled once the routine has returned
 * (or the thread was terminated); the thread's last instructions are the
 * platform's own, so the routine's library may be unloaded as soon as it is. */
RZ_PLATFORM_API HANDLE CreateThread(void* security, size_t stackSize, LPTHREAD_START_ROUTINE routine, void* parameter,
                                    DWORD flags, DWORD* threadId);
/* Returns the previous suspend count (1 for a thread created suspended, else 0);
 * the thread starts when it reaches 0. 0xFFFFFFFF for a bad handle. */
RZ_PLATFORM_API DWORD ResumeThread(HANDLE thread);
/* POSIX cannot kill a thread: this cancels it (pthread_cancel, deferred) at its
 * next wait or sleep of the platform (WaitFor*, Sleep), or of the C library (poll,
 * read, nanosleep, ...). The thread's stack unwinds, running destructors; a
 * catch (...) in the routine must end in "throw;" so that the unwind goes on
 * (abi::__forced_unwind of <cxxabi.h> is what it caught), or the process ends. A thread that has not started yet
 * (suspended or held at the attach gate) never runs its routine. Returns TRUE when the request was made (or the thread
 * had already ended); wait on the handle to learn whether it ended. Its exit code is then `exitCode`. */
RZ_PLATFORM_API BOOL TerminateThread(HANDLE thread, DWORD exitCode);
/* STILL_ACTIVE until the routine has returned, then what it returned. */
RZ_PLATFORM_API BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
/* Process-wide thread numbers, never 0; a created thread's number is known at once. */
RZ_PLATFORM_API DWORD GetCurrentThreadId(void);

/* The attach gate: a library's entry routine closes it while it runs. Threads
 * created meanwhile, by any thread, are held until every Begin has had its End;
 * so the entry routine must not wait for a thread it created. Calls nest. */
RZ_PLATFORM_API void BeginModuleAttach(void);
RZ_PLATFORM_API void EndModuleAttach(void);

/* ---- time ------------------------------------------------------------------ */
RZ_PLATFORM_API void Sleep(DWORD milliseconds);
RZ_PLATFORM_API DWORD GetTickCount(void);
RZ_PLATFORM_API BOOL QueryPerformanceCounter(int64_t* count);
RZ_PLATFORM_API BOOL QueryPerformanceFrequency(int64_t* frequency);
/* The processor's cycle counter: rdtsc on x86, else monotonic nanoseconds. */
RZ_PLATFORM_API uint64_t ReadCycleCounter(void);

/* ---- libraries ------------------------------------------------------------- */
/* A library is named by one HMODULE however often it is loaded, and whichever
 * call names it (LoadLibraryA, GetModuleHandleFromAddress). */

/* dlopen(RTLD_NOW | RTLD_LOCAL): a missing symbol fails the load. Loads count.
 * Fails with ERROR_MOD_NOT_FOUND (126) when the file does not exist (or, for a
 * bare name, no library of that name loads), ERROR_BAD_EXE_FORMAT (193) when it
 * exists but cannot be loaded; FormatMessageA then gives the loader's reason. */
RZ_PLATFORM_API HMODULE LoadLibraryA(const char* path);
/* The library's own export `name` (not its dependencies'); null with
 * ERROR_PROC_NOT_FOUND when it has none, ERROR_INVALID_HANDLE for a bad module. */
RZ_PLATFORM_API void* GetProcAddress(HMODULE module, const char* name);
/* Drops one load of LoadLibraryA; refused (FALSE, ERROR_INVALID_HANDLE) when the
 * library has no load left to drop, as for a handle of GetModuleHandleFromAddress. */
RZ_PLATFORM_API BOOL FreeLibrary(HMODULE module);
/* The library that holds `address` (a module's own handle, as DllMain gets it);
 * the reference is not counted. Null, with ERROR_MOD_NOT_FOUND, for an address in
 * no library. */
RZ_PLATFORM_API HMODULE GetModuleHandleFromAddress(const void* address);
/* The library's absolute path. As Windows: copies at most size-1 characters and a
 * terminator and returns the length; a path that does not fit is cut, and the
 * answer is then `size` with ERROR_INSUFFICIENT_BUFFER. */
RZ_PLATFORM_API DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);

/* ---- file search ----------------------------------------------------------- */
#define MAX_PATH 260
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
typedef struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    char cFileName[MAX_PATH];
} WIN32_FIND_DATAA;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
/* `pattern` is a directory, '/', and a file pattern with '*' and '?' (no directory:
 * the current one). Only regular files (symbolic links followed) are found, their
 * names compared with case, as the file system does; names come sorted byte-wise,
 * as NTFS returns them. No match gives INVALID_HANDLE_VALUE with
 * ERROR_FILE_NOT_FOUND, a missing directory ERROR_PATH_NOT_FOUND. FindNextFileA
 * fails with ERROR_NO_MORE_FILES after the last name. */
RZ_PLATFORM_API HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
RZ_PLATFORM_API BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data);
RZ_PLATFORM_API BOOL FindClose(HANDLE search);

/* ---- settings -------------------------------------------------------------- */
/* A file name without a directory is looked for at $RUZADA_INI when that is set
 * and not empty (it names the file itself), else at $XDG_CONFIG_HOME/<name>, else
 * at $HOME/.config/<name>. The file is read at every call. Sections and keys match
 * without regard to case and surrounding blanks; lines starting with ';' are
 * comments; the first match wins. The value is a decimal number, or hexadecimal
 * after "0x", with an optional sign, read up to the first other character (a
 * negative number comes back as its two's complement); a value that does not
 * start with a number, or is empty, gives 0; a missing file, section or key gives
 * `defaultValue`. */
RZ_PLATFORM_API UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                                           const char* fileName);
/* The text of a key, found as GetPrivateProfileIntA finds it (one pair of matching
 * quotes dropped), or `defaultValue` (NULL counts as "") with its surrounding
 * blanks removed when the file, the section or the key is missing. At most
 * size-1 characters and a terminator go into `buffer`; the answer is the number
 * copied, size-1 for a text that was cut. A NULL section or key gives the default:
 * sections and keys are not listed. */
RZ_PLATFORM_API DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                               char* buffer, DWORD size, const char* fileName);
/* The path that GetPrivateProfileIntA reads for `fileName`, into `buffer`, with the
 * copying rules of GetModuleFileNameA; 0 with ERROR_PATH_NOT_FOUND when there is
 * none (no file name, or no $HOME to find it under). */
RZ_PLATFORM_API DWORD GetPrivateProfilePath(const char* fileName, char* buffer, DWORD size);

/* ---- debug output and message boxes ---------------------------------------- */
typedef void (*DebugOutputHandler)(const char* text, void* user);
/* Every line goes to the installed handler; with RUZADA_DEBUG=1 also to stderr.
 * Handlers are called one at a time, from the writing thread; once
 * SetDebugOutputHandler returns, the handler it replaced is no longer running. A
 * handler may write debug output itself but must not wait for another thread
 * that does. */
RZ_PLATFORM_API void OutputDebugStringA(const char* text);
RZ_PLATFORM_API void SetDebugOutputHandler(DebugOutputHandler handler, void* user);

#define MB_OK 0x00000000u
#define MB_ICONEXCLAMATION 0x00000030u
#define IDOK 1
typedef int (*MessageBoxHandler)(HWND owner, const char* text, const char* caption, UINT type, void* user);
/* Answers what the handler answers (handlers follow the rules of the debug-output
 * handler). Without a handler the text goes to the debug output and, unless that
 * already copies to stderr, to stderr as "<caption>: <text>"; answers IDOK. */
RZ_PLATFORM_API int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
RZ_PLATFORM_API void SetMessageBoxHandler(MessageBoxHandler handler, void* user);

/* ---- string tables --------------------------------------------------------- */
typedef struct StringTableEntry {
    UINT id;
    const char* text;
} StringTableEntry;
/* A library registers its compiled-in table under its own handle; the texts are
 * copied, and a second registration replaces the first. */
RZ_PLATFORM_API void RegisterStringTable(HMODULE module, const StringTableEntry* entries, size_t count);
RZ_PLATFORM_API void UnregisterStringTable(HMODULE module);
/* As Windows: copies at most size-1 characters, terminates, returns the count; 0
 * for a missing entry (buffer gets an empty string, ERROR_RESOURCE_NAME_NOT_FOUND)
 * or a bad argument (ERROR_INVALID_PARAMETER). */
RZ_PLATFORM_API int LoadStringA(HMODULE module, UINT id, char* buffer, int size);

#endif
