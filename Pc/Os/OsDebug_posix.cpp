// POSIX has no debugger channel: $VANTRO_DEBUG_OUTPUT names the destination,
// "stderr" or a file that each text is appended to; unset, texts go nowhere.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vos {
namespace {

void WriteAll(int fd, const char* text, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

void DebugOutputNative(const char* text) {
    const char* target = std::getenv("VANTRO_DEBUG_OUTPUT");
    if (!target || !*target) return;
    size_t size = std::strlen(text);
    if (std::strcmp(target, "stderr") == 0) {
        WriteAll(STDERR_FILENO, text, size);
        return;
    }
    int fd = open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAll(fd, text, size);
    close(fd);
}

}  // namespace vos
