#include "platform/file_errors.h"

#include <cerrno>

#include "platform/strings.h"
#include "res/StringIds.h"

WString FileErrorText(int error) {
  switch (error) {
    case 0: return LoadStringW(sid::kReasonNotKnown);
    case ENOSPC: return LoadStringW(sid::kDiskFull);
    case EDQUOT: return LoadStringW(sid::kDiskQuotaUsedUp);
    case EROFS: return LoadStringW(sid::kFolderReadOnly);
    case EACCES:
    case EPERM: return LoadStringW(sid::kAccessDenied);
    case ENOENT:
    case ENOTDIR: return LoadStringW(sid::kFolderDoesNotExist);
    case ENAMETOOLONG: return LoadStringW(sid::kNameTooLong);
    case EIO: return LoadStringW(sid::kDiskReportedReadOrWrite);
    case EEXIST: return LoadStringW(sid::kFileThatNameExists);
    case EISDIR: return LoadStringW(sid::kFolderNotFile);
    default: return FormatW(LoadStringW(sid::kSystemError), error);
  }
}
