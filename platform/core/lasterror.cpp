// The thread's last-error value, and the Windows code a Windows program would see
// for an errno value.
#include <cerrno>

#include "ruzada/kernel.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError(void) { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

DWORD ErrnoToWinError(int err)
{
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EBUSY:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case ENOEXEC:
            return ERROR_BAD_EXE_FORMAT;
        case ENXIO:
        case ENODEV:
            return ERROR_FILE_NOT_FOUND;
        case EIO:
            return ERROR_GEN_FAILURE;
        case ENOTTY:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EAGAIN:
            return ERROR_IO_PENDING;
        case ECANCELED:
            return ERROR_OPERATION_ABORTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}
