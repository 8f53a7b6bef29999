/* The host link: registered window messages, host windows and per-thread message
 * queues, with the posting and sending rules of Windows.
 *
 * A window belongs to the thread that created it. A posted message waits in the
 * owner thread's queue until that thread peeks or gets it; a message sent from
 * another thread is handled by the owner thread the next time it peeks, gets, or
 * itself waits inside SendMessageA, so two threads sending to each other cannot
 * deadlock. When the owner thread ends, its windows go with it: posts to them are
 * dropped (FALSE) and sends return 0. */
#ifndef RUZADA_HOSTLINK_H
#define RUZADA_HOSTLINK_H

#include "wintypes.h"

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

typedef struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
} MSG;

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define WM_NULL 0x0000u
#define WM_QUIT 0x0012u
#define WM_USER 0x0400u

/* Last-error codes of the host link, beside those of kernel.h. */
#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_NOT_ENOUGH_QUOTA 1816u

/* A thread's queue holds at most this many posted messages; a post beyond it
 * fails with ERROR_NOT_ENOUGH_QUOTA, as on Windows. */
#define RZ_POSTED_MESSAGE_LIMIT 10000u

/* Same name, same identifier, process-wide, in 0xC000..0xFFFF; 0 for a null or
 * empty name. Names compare without regard to case, as on Windows. */
RZ_PLATFORM_API UINT RegisterWindowMessageA(const char* name);

/* A window owned by the calling thread, whose messages go to `procedure` (which
 * must not be null) on that thread. Window handles are identifiers, never reused:
 * a destroyed or unknown one, and NULL, are simply not windows. */
RZ_PLATFORM_API HWND CreateHostWindow(WNDPROC procedure, void* user);
/* Only the owner thread may destroy a window (ERROR_ACCESS_DENIED otherwise).
 * Messages still posted to it are dropped. */
RZ_PLATFORM_API BOOL DestroyHostWindow(HWND window);
RZ_PLATFORM_API void* GetHostWindowUser(HWND window);
RZ_PLATFORM_API BOOL IsWindow(HWND window);

/* Queues the message to the owner thread and returns at once. FALSE, with the
 * message dropped, when `window` is not a window (ERROR_INVALID_WINDOW_HANDLE) or
 * its queue is full. MSG.time is the tick count in milliseconds at posting. */
RZ_PLATFORM_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/* Posts WM_QUIT (wParam = exitCode, no window) to the calling thread's queue,
 * beyond the posted-message limit; GetMessageA then returns FALSE. */
RZ_PLATFORM_API void PostQuitMessage(int exitCode);
/* On the owner thread, calls the procedure directly. From another thread, hands
 * the message to the owner and waits for the procedure's result, handling the
 * messages sent to the calling thread meanwhile. 0 when `window` is not a window
 * or its thread ends before answering. */
RZ_PLATFORM_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* Messages sent to this thread are handled first. Then the oldest posted message
 * that matches is copied to `message`, and taken off the queue with PM_REMOVE.
 * `filter` NULL takes any window of this thread and thread messages (WM_QUIT);
 * first = last = 0 takes every message, and WM_QUIT passes any range. FALSE when
 * nothing matches, `message` is null or `filter` is not a window. */
RZ_PLATFORM_API BOOL PeekMessageA(MSG* message, HWND filter, UINT first, UINT last, UINT remove);
/* As PeekMessageA with PM_REMOVE, but waits for a matching posted message. FALSE
 * for WM_QUIT, -1 when `message` is null or `filter` is not a window. */
RZ_PLATFORM_API BOOL GetMessageA(MSG* message, HWND filter, UINT first, UINT last);
/* There are no key messages to translate: always FALSE. */
RZ_PLATFORM_API BOOL TranslateMessage(const MSG* message);
/* Calls the procedure of message->hwnd and returns its result; 0 for a thread
 * message, a window that is gone, or a window of another thread. */
RZ_PLATFORM_API LRESULT DispatchMessageA(const MSG* message);

#define QS_ALLINPUT 0x04FFu
/* Waits for the first of the handles (wait-any, as WaitForMultipleObjects; 0 to
 * MAXIMUM_WAIT_OBJECTS - 1 of them) or, with `wakeMask` QS_ALLINPUT, for a message
 * in the calling thread's queue, posted or sent, that is waiting when the call
 * starts or arrives during it: WAIT_OBJECT_0 + count for the message, which is
 * left for PeekMessageA. A signalled handle wins over a message. WAIT_TIMEOUT;
 * WAIT_FAILED as WaitForMultipleObjects fails, or when the thread's queue has no
 * descriptor to wait on. Any other wake mask waits on the handles alone. */
RZ_PLATFORM_API DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                                DWORD wakeMask);

/* Readable exactly while the calling thread has messages waiting (posted or
 * sent), for poll, epoll, GLib or Qt; reading it is the platform's business, so
 * wait on it and then peek. Owned by the platform, closed when the thread ends:
 * do not close it. -1 when no descriptor can be had. */
RZ_PLATFORM_API int GetMessageQueueFd(void);

#endif
