#include "platform/errno_failure_posix.h"

#include <cerrno>

namespace wexlo {

Failure failureFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return Failure::FileNotFound;
    case EACCES:
    case EPERM:
      return Failure::AccessDenied;
    case ENOSPC:
      return Failure::NoSpaceLeft;
    case EDQUOT:
      return Failure::DiskQuota;
    case EFBIG:
      return Failure::FileTooBig;
    case ENOTDIR:
      return Failure::NotDir;
    case EISDIR:
      return Failure::IsDir;
    case EEXIST:
      return Failure::PathAlreadyExists;
    case ENAMETOOLONG:
      return Failure::NameTooLong;
    case ELOOP:
      return Failure::SymLinkLoop;
    case EROFS:
      return Failure::ReadOnlyFileSystem;
    case ETXTBSY:
      return Failure::FileBusy;
    case EBUSY:
      return Failure::DeviceBusy;
    case ENOTEMPTY:
      return Failure::DirNotEmpty;
    case EXDEV:
      return Failure::CrossDevice;
    case EMFILE:
      return Failure::ProcessFdQuotaExceeded;
    case ENFILE:
      return Failure::SystemFdQuotaExceeded;
    case ENOMEM:
      return Failure::SystemResources;
    case EIO:
      return Failure::InputOutput;
    default:
      return Failure::Unexpected;
  }
}

}  // namespace wexlo
