// POSIX implementation of the platform layer (Linux: unnamed temporary files,
// extended attributes and inode flags are used where the kernel has them).
#include "runtime/os.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <vector>

#include "runtime/os_shared.h"
#include "runtime/seams.h"

namespace os {
namespace {

// A directory held only to resolve names in; where O_PATH is missing, read
// access to the directory is needed instead.
#if defined(O_PATH)
constexpr int kDirectoryOnly = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kDirectoryOnly = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

int fdOf(FileHandle file) { return static_cast<int>(file.value); }
int fdOf(DirectoryHandle directory) { return static_cast<int>(directory.value); }
FileHandle fileOf(int fd) { return FileHandle{fd < 0 ? -1 : fd}; }

// The seams fail a call as the system would: a write as on a full disk, an
// open as with no handles left, a seek as on an I/O error.
bool injectedFailure() {
  if (!seams::fileChangeFails()) return false;
  errno = ENOSPC;
  return true;
}

bool isRegularHandle(int fd) {
  struct stat facts;
  return fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode);
}

// Opens with O_NONBLOCK so that a FIFO cannot stall us, rejects anything that
// is not a regular file, then restores blocking mode for the real work.
int openRegularAt(int directory, const char* path, int flags) {
  int fd = openat(directory, path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (!isRegularHandle(fd)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  int current = fcntl(fd, F_GETFL);
  if (current >= 0) fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
  return fd;
}

int openRegular(const std::string& path, int flags) {
  return openRegularAt(AT_FDCWD, path.c_str(), flags);
}

FileStamp toStamp(const struct stat& info) {
  FileStamp stamp;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = info.st_size;
  stamp.modifiedSeconds = info.st_mtim.tv_sec;
  stamp.modifiedNanoseconds = info.st_mtim.tv_nsec;
  stamp.changedSeconds = info.st_ctim.tv_sec;
  stamp.changedNanoseconds = info.st_ctim.tv_nsec;
  return stamp;
}

// The target of the symlink name in directory, or false if it is none.
bool readLinkAt(int directory, const std::string& name, std::string* target) {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t got = readlinkat(directory, name.c_str(), buffer.data(), buffer.size());
    if (got < 0) return false;
    if (static_cast<size_t>(got) < buffer.size()) {
      target->assign(buffer.data(), got);
      return true;
    }
    if (buffer.size() > (1 << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
}

std::string temporarySuffix() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return uniqueSuffix((static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(now.tv_nsec) ^
                      (static_cast<uint64_t>(now.tv_sec) << 20));
}

bool takeLockNow(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

#if defined(__linux__)
constexpr const char* kAccessAcl = "system.posix_acl_access";

// Group bits that give the owning group no more than its access control
// list entry did; the list is the kernel's extended-attribute form.
uint32_t groupBitsFromAcl(const std::string& acl, uint32_t mode) {
  constexpr uint16_t kGroupObject = 0x04;
  constexpr size_t kHeader = 4, kEntry = 8;
  for (size_t at = kHeader; at + kEntry <= acl.size(); at += kEntry) {
    uint16_t tag, permissions;
    memcpy(&tag, acl.data() + at, 2);
    memcpy(&permissions, acl.data() + at + 2, 2);
    if (tag == kGroupObject) return (mode & ~070u) | (mode & ((permissions & 7u) << 3));
  }
  return mode & ~070u;
}

bool readAttribute(int fd, const char* name, std::string* value) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = fgetxattr(fd, name, nullptr, 0);
    if (size < 0) return false;
    value->resize(static_cast<size_t>(size));
    ssize_t got = fgetxattr(fd, name, value->data(), value->size());
    if (got >= 0) {
      value->resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // grown in between: ask again
  }
  return false;
}

bool attributeNames(int fd, std::string* names) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // no attributes here at all
    names->resize(static_cast<size_t>(size));
    ssize_t got = flistxattr(fd, names->data(), names->size());
    if (got >= 0) {
      names->resize(static_cast<size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;
  }
  return false;
}

// The inode flags (chattr) that say how the file is kept.
void copyInodeFlags(int source, int destination) {
  // Immutable and append-only are left out: they would keep the rename from
  // happening, and the tool leaves such files alone anyway. Copy-on-write and
  // compression take effect only on a file that is still empty.
  constexpr int kCarried = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                           FS_NOATIME_FL | FS_NOCOMP_FL | FS_JOURNAL_DATA_FL | FS_NOTAIL_FL |
                           FS_NOCOW_FL | FS_DAX_FL | FS_PROJINHERIT_FL;
  int wanted = 0, flags = 0;
  if (ioctl(source, FS_IOC_GETFLAGS, &wanted) != 0 ||
      ioctl(destination, FS_IOC_GETFLAGS, &flags) != 0)
    return;  // a file system without flags
  wanted &= kCarried;
  // What the new file inherited from its directory goes too.
  int all = (flags & ~kCarried) | wanted;
  if (all == flags || ioctl(destination, FS_IOC_SETFLAGS, &all) == 0) return;
  // One this user may not set, or this file system does not take: the others
  // one at a time.
  for (unsigned bit = 1; bit != 0; bit <<= 1) {
    if ((bit & kCarried) == 0 || ((flags ^ wanted) & bit) == 0) continue;
    int changed = flags ^ static_cast<int>(bit);
    if (ioctl(destination, FS_IOC_SETFLAGS, &changed) == 0) flags = changed;
  }
}

// The extended inode attributes (XFS, and others that take them): the
// extent-size hints, the project (of quotas) and the flags that say how the
// file is kept. Extent-size hints take effect only on a file that is still
// empty. Where this user may not give the file the project, it keeps its own.
void copyFileAttributes(int source, int destination) {
  constexpr uint32_t kCarried = FS_XFLAG_REALTIME | FS_XFLAG_SYNC | FS_XFLAG_NOATIME |
                                FS_XFLAG_NODUMP | FS_XFLAG_EXTSIZE | FS_XFLAG_NODEFRAG |
                                FS_XFLAG_FILESTREAM | FS_XFLAG_DAX | FS_XFLAG_COWEXTSIZE;
  struct fsxattr wanted, had;
  if (ioctl(source, FS_IOC_FSGETXATTR, &wanted) != 0 ||
      ioctl(destination, FS_IOC_FSGETXATTR, &had) != 0)
    return;  // a file system without them
  struct fsxattr all = had;
  all.fsx_xflags = (had.fsx_xflags & ~kCarried) | (wanted.fsx_xflags & kCarried);
  all.fsx_extsize = wanted.fsx_extsize;
  all.fsx_cowextsize = wanted.fsx_cowextsize;
  all.fsx_projid = wanted.fsx_projid;
  if (ioctl(destination, FS_IOC_FSSETXATTR, &all) == 0) return;
  all.fsx_projid = had.fsx_projid;
  (void)ioctl(destination, FS_IOC_FSSETXATTR, &all);
}

// Whether names in directory may be removed again: not in an append-only
// directory, where a temporary file, once named, would stay for good.
bool allowsRemoval(int directory) {
  int listing = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return true;  // no flags to look at: the removal will tell
  int flags = 0;
  bool appendOnly = ioctl(listing, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL);
  close(listing);
  return !appendOnly;
}

#endif  // __linux__

int toSignalNumber(EndSignal signal) {
  switch (signal) {
    case EndSignal::Hangup: return SIGHUP;
    case EndSignal::Interrupt: return SIGINT;
    case EndSignal::Terminate: return SIGTERM;
    case EndSignal::Quit: return SIGQUIT;
    case EndSignal::Alarm: return SIGALRM;
    case EndSignal::User1: return SIGUSR1;
    case EndSignal::User2: return SIGUSR2;
  }
  return SIGTERM;
}

constexpr EndSignal kEndSignals[] = {EndSignal::Hangup, EndSignal::Interrupt, EndSignal::Terminate,
                                     EndSignal::Quit,   EndSignal::Alarm,     EndSignal::User1,
                                     EndSignal::User2};

sigset_t endSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (EndSignal signal : kEndSignals) sigaddset(&set, toSignalNumber(signal));
  return set;
}

EndSignal fromSignalNumber(int number) {
  for (EndSignal signal : kEndSignals)
    if (toSignalNumber(signal) == number) return signal;
  return EndSignal::Terminate;
}

void (*g_onSignal)(EndSignal) = nullptr;
pthread_t g_mainThread;

void endSignalHandler(int number) {
  // A signal sent to another thread of the run (tgkill) goes on to the main
  // thread, which alone knows when the run may end: it takes it at once, or
  // when its deferral ends.
  if (!pthread_equal(pthread_self(), g_mainThread)) {
    pthread_kill(g_mainThread, number);
    return;
  }
  if (g_onSignal) g_onSignal(fromSignalNumber(number));
  // The signal stays blocked while this handler runs; re-raised with its
  // default action, it ends the process as soon as the handler returns.
  signal(number, SIG_DFL);
  raise(number);
}

}  // namespace

FileHandle openExistingForReading(const std::string& path) {
  if (seams::openFails()) {
    errno = ENFILE;
    return kNoFile;
  }
  return fileOf(openRegular(path, O_RDONLY));
}

int64_t readOnce(FileHandle file, int64_t offset, void* destination, int64_t n) {
  size_t chunk = static_cast<size_t>(std::min<int64_t>(n, INT_MAX));
  for (;;) {
    ssize_t got = offset < 0 ? read(fdOf(file), destination, chunk)
                             : pread(fdOf(file), destination, chunk, offset);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool writeFully(FileHandle file, const void* source, int64_t n) {
  if (injectedFailure()) return false;
  const char* in = static_cast<const char*>(source);
  while (n > 0) {
    size_t chunk = static_cast<size_t>(std::min<int64_t>(n, INT_MAX));
    ssize_t put = write(fdOf(file), in, chunk);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;  // EFBIG past a file-size limit lands here
    in += put;
    n -= put;
  }
  seams::noteStep(seams::Step::Write);
  return true;
}

bool copyRange(FileHandle from, int64_t offset, FileHandle to, int64_t n) {
  if (injectedFailure()) return false;
#if defined(__linux__)
  // In the kernel where the file systems allow; a refusal (another file
  // system, an old kernel) leaves the rest to reading and writing.
  while (n > 0) {
    loff_t in = offset;
    ssize_t put = copy_file_range(fdOf(from), &in, fdOf(to), nullptr,
                                  static_cast<size_t>(std::min<int64_t>(n, 1 << 30)), 0);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                    errno == EBADF))
      break;
    if (put <= 0) return false;  // an error, or the file ended early
    seams::noteStep(seams::Step::Write);
    offset += put;
    n -= put;
  }
#endif
  return copyThroughBuffer(from, offset, to, n);
}

bool copyRangeKeepsPosition() { return true; }

void dropCached(FileHandle file, int64_t offset, int64_t n) {
  posix_fadvise(fdOf(file), offset, n, POSIX_FADV_DONTNEED);
}

void startWriteBack(FileHandle file) {
#if defined(__linux__)
  sync_file_range(fdOf(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)file;
#endif
}

int64_t seek(FileHandle file, int64_t offset, SeekFrom whence) {
  if (seams::seekFails()) {
    errno = EIO;
    return -1;
  }
  int how = whence == SeekFrom::Start     ? SEEK_SET
            : whence == SeekFrom::Current ? SEEK_CUR
                                          : SEEK_END;
  return lseek(fdOf(file), offset, how);
}

bool syncFile(FileHandle file) {
  if (injectedFailure() || fsync(fdOf(file)) != 0) return false;
  seams::noteStep(seams::Step::SyncFile);
  return true;
}

bool closeHandle(FileHandle file) { return close(fdOf(file)) == 0; }

bool stampOf(FileHandle file, FileStamp* stamp) {
  struct stat info;
  if (fstat(fdOf(file), &info) != 0) return false;
  *stamp = toStamp(info);
  return true;
}

bool namesFile(const std::string& path, FileHandle file) {
  struct stat named, open;
  return stat(path.c_str(), &named) == 0 && fstat(fdOf(file), &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool lockExclusive(FileHandle file) {
#if defined(F_OFD_SETLK)
  // Runs take turns by the file's flock(2) lock. Other programs take that
  // lock too (a build script's flock(1), even the caller's own), so the run
  // that holds it says so, by a shared record lock of the open file on one
  // byte far beyond any real end of file, and a run waits only while a run
  // holds it. A lock that no run says it holds (given the moment a run takes
  // between the two) is another program's, and is not waited for: the run
  // goes on alone, and the check before the rename still keeps whatever that
  // program changes. So is a record lock of another program over that byte.
  constexpr off_t kHolderOffset = std::numeric_limits<off_t>::max() - 1;
  constexpr int kLooksForAHolder = 10;
  const struct timespec pause = {0, 2 * 1000 * 1000};
  struct flock holder = {};
  holder.l_type = F_RDLCK;
  holder.l_whence = SEEK_SET;
  holder.l_start = kHolderOffset;
  holder.l_len = 1;
  for (int looks = 0;;) {
    if (flock(fdOf(file), LOCK_EX | LOCK_NB) == 0) {
      struct flock mine = holder;
      (void)fcntl(fdOf(file), F_OFD_SETLK, &mine);  // under another program's lock: unsaid
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    struct flock other = holder;
    other.l_type = F_WRLCK;  // meets every other lock on that byte
    if (fcntl(fdOf(file), F_OFD_GETLK, &other) != 0) return false;
    bool aRunHoldsIt =
        other.l_type == F_RDLCK && other.l_start == kHolderOffset && other.l_len == 1;
    if (aRunHoldsIt) looks = 0;  // its turn ends with its rename, in milliseconds
    else if (++looks > kLooksForAHolder) return false;
    nanosleep(&pause, nullptr);
  }
#else
  for (;;) {
    if (flock(fdOf(file), LOCK_EX) == 0) return true;
    if (errno != EINTR) return false;
  }
#endif
}

bool locate(const std::string& path, FileLocation* location) {
  release(location);
  int directory = open(".", kDirectoryOnly);
  std::string name = path;
  constexpr int kMaxLinks = 40;  // as the kernel allows
  for (int link = 0; directory >= 0 && link <= kMaxLinks; ++link) {
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
      // An absolute directory part ignores the handle, as openat does.
      std::string part = slash == 0 ? "/" : name.substr(0, slash);
      int next = openat(directory, part.c_str(), kDirectoryOnly);
      close(directory);
      directory = next;
      name.erase(0, slash + 1);
      if (directory < 0) break;
    }
    if (name.empty() || name == "." || name == "..") break;
    std::string target;
    if (!readLinkAt(directory, name, &target)) {
      if (errno != EINVAL) break;  // missing, or not readable
      location->directory = DirectoryHandle{directory};
      location->name = name;
      return true;
    }
    name = target;
  }
  if (directory >= 0) close(directory);
  return false;
}

void release(FileLocation* location) {
  if (location->directory != kNoDirectory) close(fdOf(location->directory));
  location->directory = kNoDirectory;
  location->name.clear();
}

bool stampAt(const FileLocation& location, FileStamp* stamp) {
  struct stat info;
  if (fstatat(fdOf(location.directory), location.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  *stamp = toStamp(info);
  seams::noteStep(seams::Step::CheckIdentity);
  return true;
}

Access writeAccess(const FileLocation& location) {
  struct stat info;
  if (fstatat(fdOf(location.directory), location.name.c_str(), &info, 0) != 0)
    return Access::Failed;
  if ((info.st_mode & 0222) == 0) return Access::Denied;
  int fd = openRegularAt(fdOf(location.directory), location.name.c_str(), O_WRONLY);
  if (fd >= 0) {
    close(fd);
    return Access::Allowed;
  }
  switch (errno) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return Access::Denied;
    default: return Access::Failed;
  }
}

bool createTemporary(const FileLocation& location, const std::string& prefix,
                     TemporaryFile* temporary) {
  temporary->name.clear();
#if defined(__linux__)
  if (!allowsRemoval(fdOf(location.directory))) {
    errno = EPERM;
    return false;
  }
#endif
#if defined(O_TMPFILE) && defined(__linux__)
  // Unnamed, a file that a kill leaves behind is gone with the last handle.
  int fd = openat(fdOf(location.directory), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    takeLockNow(fd);
    temporary->handle = fileOf(fd);
    return true;
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + temporarySuffix();
    int named = openat(fdOf(location.directory), name.c_str(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (named < 0 && errno == EEXIST) continue;
    if (named < 0) return false;
    takeLockNow(named);
    temporary->handle = fileOf(named);
    temporary->name = name;
    return true;
  }
  return false;
}

bool nameTemporary(const FileLocation& location, const std::string& prefix,
                   TemporaryFile* temporary) {
  if (!temporary->name.empty()) return true;
  if (injectedFailure()) return false;
#if !defined(__linux__)
  (void)location, (void)prefix;
  return false;  // an unnamed file is made only where it can be linked
#else
  std::string self = "/proc/self/fd/" + std::to_string(temporary->handle.value);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + temporarySuffix();
    int linked =
        linkat(AT_FDCWD, self.c_str(), fdOf(location.directory), name.c_str(), AT_SYMLINK_FOLLOW);
    // Without /proc, a privileged process can link the handle itself.
    if (linked != 0 && errno == ENOENT)
      linked = linkat(fdOf(temporary->handle), "", fdOf(location.directory), name.c_str(),
                      AT_EMPTY_PATH);
    if (linked != 0 && errno == EEXIST) continue;
    if (linked != 0) return false;
    temporary->name = name;
    return true;
  }
  return false;
#endif
}

void copyFileFlags(FileHandle source, FileHandle destination) {
#if defined(__linux__)
  copyInodeFlags(fdOf(source), fdOf(destination));
  copyFileAttributes(fdOf(source), fdOf(destination));
#else
  (void)source, (void)destination;
#endif
}

bool copyMetadata(FileHandle source, FileHandle destination) {
  if (injectedFailure()) return false;
  struct stat info;
  const int from = fdOf(source), to = fdOf(destination);
  if (fstat(from, &info) != 0) return false;
  // Not every user may give a file away; keeping the group alone is the next best.
  if (fchown(to, info.st_uid, info.st_gid) != 0)
    (void)!fchown(to, static_cast<uid_t>(-1), info.st_gid);
  uint32_t mode = info.st_mode & 07777;
#if defined(__linux__)
  std::string names;
  if (!attributeNames(from, &names)) return false;
  bool aclCopied = false;
  for (size_t at = 0; at < names.size(); at += strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    std::string value;
    if (!readAttribute(from, name, &value)) continue;  // removed meanwhile
    if (fsetxattr(to, name, value.data(), value.size(), 0) == 0) {
      aclCopied |= strcmp(name, kAccessAcl) == 0;
      continue;
    }
    if (strcmp(name, kAccessAcl) == 0) {
      mode = groupBitsFromAcl(value, mode);
    } else if (strncmp(name, "user.", 5) == 0) {
      return false;  // the user's own data: losing it is a failed write
    }
    // Security labels and trusted attributes that this user may not set are
    // the system's to give; the new file gets its default ones.
  }
  // The new file inherited the directory's default list, if any; where the
  // old file's list is not in its place, the mode bits alone say who may do
  // what.
  if (!aclCopied && fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP)
    return false;
#endif
  // A set-id bit means "run as this owner" or "as this group": where the new
  // file could not keep that owner or group, it does not get the bit.
  struct stat now;
  if (fstat(to, &now) != 0) return false;
  if (now.st_uid != info.st_uid) mode &= ~static_cast<uint32_t>(S_ISUID);
  if (now.st_gid != info.st_gid) mode &= ~static_cast<uint32_t>(S_ISGID);
  // Last, since a write or a change of owner clears the set-id bits.
  return fchmod(to, mode) == 0;
}

bool replaceWith(const FileLocation& location, const std::string& name, FileHandle*) {
  if (injectedFailure()) return false;
  if (renameat(fdOf(location.directory), name.c_str(), fdOf(location.directory),
               location.name.c_str()) != 0)
    return false;
  seams::noteStep(seams::Step::Rename);
  // The new name lives in the directory; without this a crash may bring back
  // the old one. Some file systems refuse to sync a directory: no harm then.
  int fd = openat(fdOf(location.directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    if (fsync(fd) == 0) seams::noteStep(seams::Step::SyncDirectory);
    close(fd);
  }
  return true;
}

bool removeAt(DirectoryHandle directory, const char* name) {
  return unlinkat(fdOf(directory), name, 0) == 0;
}

void removeAbandoned(const FileLocation& location, const std::string& prefix) {
  int listing = openat(fdOf(location.directory), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* entries = fdopendir(listing);
  if (!entries) {
    close(listing);
    return;
  }
  std::vector<std::string> candidates;
  while (struct dirent* entry = readdir(entries))
    if (strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
      candidates.push_back(entry->d_name);
  closedir(entries);
  for (const std::string& name : candidates) {
    int fd = openRegularAt(fdOf(location.directory), name.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0) continue;
    // A live run holds its temporary file locked from the moment it exists.
    if (takeLockNow(fd)) unlinkat(fdOf(location.directory), name.c_str(), 0);
    close(fd);
  }
}

bool decodeAnsiCodePage(std::string_view, std::u16string*) { return false; }
bool encodeAnsiCodePage(std::u16string_view, std::string*) { return false; }
bool ansiCodePageIsSingleByte() { return true; }  // Windows-1252 stands in
const std::array<bool, 256>& ansiLeadBytes() {
  static const std::array<bool, 256> kNone{};
  return kNone;
}

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool writeTerminal(const std::string& utf8) {
  return writeStandardOutput(utf8.data(), static_cast<int64_t>(utf8.size()));
}

bool writeStandardOutput(const void* bytes, int64_t n) {
  const char* in = static_cast<const char*>(bytes);
  while (n > 0) {
    ssize_t put = write(STDOUT_FILENO, in, static_cast<size_t>(n));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    in += put;
    n -= put;
  }
  return true;
}

void keepWritesFromEndingTheProcess() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

void watchEndSignals(void (*onSignal)(EndSignal)) {
  g_onSignal = onSignal;
  g_mainThread = pthread_self();
  struct sigaction action = {};
  action.sa_handler = endSignalHandler;
  // One end signal at a time: a second waits until the first has ended the
  // process.
  action.sa_mask = endSignalSet();
  for (EndSignal signal : kEndSignals) {
    int number = toSignalNumber(signal);
    struct sigaction before = {};
    // A signal ignored from the start (nohup, a background job) stays ignored.
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(number, &action, nullptr);
  }
}

namespace {
thread_local int t_deferrals = 0;
thread_local sigset_t t_maskBefore;
}  // namespace

void deferEndSignals() {
  if (t_deferrals++ > 0) return;
  sigset_t set = endSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, &t_maskBefore);
}

void allowEndSignals() {
  if (--t_deferrals > 0) return;
  // A signal that arrived meanwhile is delivered here.
  pthread_sigmask(SIG_SETMASK, &t_maskBefore, nullptr);
}

}  // namespace os
