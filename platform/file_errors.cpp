#include "platform/file_errors.h"

#include <cerrno>

#include "platform/strings.h"

WString FileErrorText(int error) {
  switch (error) {
    case 0: return LoadStringW(64319);
    case ENOSPC: return LoadStringW(64310);
    case EDQUOT: return LoadStringW(64311);
    case EROFS: return LoadStringW(64312);
    case EACCES:
    case EPERM: return LoadStringW(64313);
    case ENOENT:
    case ENOTDIR: return LoadStringW(64314);
    case ENAMETOOLONG: return LoadStringW(64315);
    case EIO: return LoadStringW(64316);
    case EEXIST: return LoadStringW(64318);
    case EISDIR: return LoadStringW(64321);
    default: return FormatW(LoadStringW(64317), error);
  }
}
