// PC files with Win32 semantics on POSIX descriptors.
//
// Dispositions: CREATE_NEW (1), CREATE_ALWAYS (2, truncates), OPEN_EXISTING
// (3, fails when missing), OPEN_ALWAYS (4), TRUNCATE_EXISTING (5). Directories
// are refused as CreateFileA refuses them. Share modes are not enforced: POSIX
// has no mandatory sharing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "Pc/Os/OsFile.h"

namespace vos {
namespace {

constexpr uint32_t kFileMagic = 0x46696C65u;  // "File"
constexpr uint32_t kFileDead = 0xDEADF11Eu;

struct File {
    uint32_t magic = kFileMagic;
    int fd = -1;
};

File* AsFile(OsHandle handle) {
    if (!IsValidHandle(handle)) return nullptr;
    File* f = static_cast<File*>(handle);
    return f->magic == kFileMagic ? f : nullptr;
}

}  // namespace

OsHandle FileCreate(const char* path, uint32_t access, uint32_t /*shareMode*/, uint32_t disposition,
                    uint32_t /*flagsAndAttributes*/) {
    if (!path || !*path) return InvalidHandle();
    bool read = (access & kGenericRead) != 0;
    bool write = (access & kGenericWrite) != 0;
    int flags = O_CLOEXEC | (write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY);
    switch (disposition) {
    case 1: flags |= O_CREAT | O_EXCL; break;   // CREATE_NEW
    case 2: flags |= O_CREAT | O_TRUNC; break;  // CREATE_ALWAYS
    case 3: break;                              // OPEN_EXISTING
    case 4: flags |= O_CREAT; break;            // OPEN_ALWAYS
    case 5:                                     // TRUNCATE_EXISTING
        if (!write) return InvalidHandle();
        flags |= O_TRUNC;
        break;
    default: return InvalidHandle();
    }
    int fd;
    do {
        fd = open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return InvalidHandle();
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return InvalidHandle();
    }
    File* f = new (std::nothrow) File();
    if (!f) {
        close(fd);
        return InvalidHandle();
    }
    f->fd = fd;
    return f;
}

bool FileRead(OsHandle handle, void* buffer, uint32_t size, uint32_t* read) {
    if (read) *read = 0;
    File* f = AsFile(handle);
    if (!f || (!buffer && size)) return false;
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // end of file
        done += static_cast<uint32_t>(n);
    }
    if (read) *read = done;
    return true;
}

bool FileWrite(OsHandle handle, const void* data, uint32_t size, uint32_t* written) {
    if (written) *written = 0;
    File* f = AsFile(handle);
    if (!f || (!data && size)) return false;
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::write(f->fd, static_cast<const char*>(data) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (written) *written = done;
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    if (written) *written = done;
    return true;
}

uint32_t FileSetPointer(OsHandle handle, int32_t distance, int32_t* distanceHigh, uint32_t method) {
    File* f = AsFile(handle);
    if (!f) return kInvalidSetFilePointer;
    int whence;
    switch (method) {
    case kFileBegin: whence = SEEK_SET; break;
    case kFileCurrent: whence = SEEK_CUR; break;
    case kFileEnd: whence = SEEK_END; break;
    default: return kInvalidSetFilePointer;
    }
    // Without a high half the distance is a signed 32-bit value; with one,
    // the two halves form a signed 64-bit distance.
    int64_t move = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                       static_cast<uint32_t>(distance))
                                : static_cast<int64_t>(distance);
    off_t base = 0;
    if (whence == SEEK_CUR) base = lseek(f->fd, 0, SEEK_CUR);
    else if (whence == SEEK_END) {
        struct stat st;
        base = fstat(f->fd, &st) == 0 ? st.st_size : -1;
    }
    if (base < 0) return kInvalidSetFilePointer;
    int64_t target = static_cast<int64_t>(base) + move;
    // A negative position fails; so does one beyond 32 bits when the caller
    // has no high half to receive it.
    if (target < 0 || (!distanceHigh && target > 0xFFFFFFFFLL)) return kInvalidSetFilePointer;
    if (lseek(f->fd, static_cast<off_t>(target), SEEK_SET) < 0) return kInvalidSetFilePointer;
    if (distanceHigh) *distanceHigh = static_cast<int32_t>(static_cast<uint64_t>(target) >> 32);
    return static_cast<uint32_t>(target);
}

uint32_t FileGetSize(OsHandle handle, uint32_t* sizeHigh) {
    File* f = AsFile(handle);
    struct stat st;
    if (!f || fstat(f->fd, &st) != 0) return kInvalidFileSize;
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (sizeHigh) *sizeHigh = static_cast<uint32_t>(size >> 32);
    return static_cast<uint32_t>(size);
}

bool FileClose(OsHandle handle) {
    File* f = AsFile(handle);
    if (!f) return false;
    int rc = close(f->fd);
    f->magic = kFileDead;
    delete f;
    return rc == 0 || errno == EINTR;
}

}  // namespace vos
