#include "host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace swboot::tool {

namespace {

std::string reason(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return fd_; }
    // Closes now and reports the result; a failed close can lose written data.
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

}  // namespace

Result<FileBytes> fileRead(const std::string& path, uint64_t maxBytes) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd() < 0) {
        return fail(reason(path, "cannot open"));
    }
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0) {
        return fail(reason(path, "cannot read"));
    }
    if (!S_ISREG(status.st_mode)) {
        return fail(path + ": not a regular file");
    }
    FileBytes result;
    result.length = static_cast<uint64_t>(status.st_size);
    result.bytes.resize(static_cast<size_t>(std::min<uint64_t>(result.length, maxBytes)));
    size_t done = 0;
    while (done < result.bytes.size()) {
        ssize_t n = ::read(file.fd(), result.bytes.data() + done, result.bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(reason(path, "cannot read"));
        }
        if (n == 0) {
            break;  // the file shrank while we read it
        }
        done += static_cast<size_t>(n);
    }
    result.bytes.resize(done);
    return result;
}

Status fileReplace(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temporary = path + ".tmp";
    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.fd() < 0) {
        return fail(reason(temporary, "cannot create"));
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::string message = reason(temporary, "cannot write");
            ::unlink(temporary.c_str());
            return fail(message);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(file.fd()) != 0 || file.close() != 0) {
        std::string message = reason(temporary, "cannot write");
        ::unlink(temporary.c_str());
        return fail(message);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        std::string message = reason(path, "cannot replace");
        ::unlink(temporary.c_str());
        return fail(message);
    }
    return Done{};
}

}  // namespace swboot::tool
