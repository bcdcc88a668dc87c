#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/paths.h"

namespace orv::platform {
namespace {

// Where glibc keeps POSIX shared-memory objects; needed to link a finished
// object into place, which shm_open itself cannot do.
constexpr const char* kShmDir = "/dev/shm";

struct Opened {
    int fd = -1;
    std::size_t size = 0;  // the object's size
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Opens the existing object `name` read-write; false with `error` set.
bool OpenExisting(const std::string& name, Opened& out, ErrorCode& error) {
    out.fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (out.fd < 0) {
        error = FromErrno(errno);
        return false;
    }
    struct stat st {};
    if (fstat(out.fd, &st) != 0) {
        error = FromErrno(errno);
        close(out.fd);
        return false;
    }
    out.size = static_cast<std::size_t>(st.st_size);
    out.device = st.st_dev;
    out.inode = st.st_ino;
    return true;
}

void* MapShared(int fd, std::size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// Builds a new object of `size` bytes under a private name, fills it and
// links it to `name`. Returns the mapped object, or fd -1 with `error` set:
// kErrorAlreadyExists when `name` appeared meanwhile (nothing was published).
Opened MakeAndPublish(const std::string& name, std::size_t size,
                      const SharedMemory::Initializer& init, void*& mapping, ErrorCode& error) {
    static std::atomic<unsigned> counter{0};
    Opened made;
    std::string scratch;
    for (int attempt = 0; attempt < 100 && made.fd < 0; ++attempt) {
        scratch = IpcPrefix() + "new." + std::to_string(getpid()) + "." +
                  std::to_string(counter.fetch_add(1));
        made.fd = shm_open(scratch.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (made.fd < 0 && errno != EEXIST) break;
    }
    if (made.fd < 0) {
        error = errno == EEXIST ? kErrorGenFailure : FromErrno(errno);
        return made;
    }
    auto fail = [&](int err) {
        error = FromErrno(err);
        if (mapping) munmap(mapping, size);
        mapping = nullptr;
        close(made.fd);
        shm_unlink(scratch.c_str());
        made.fd = -1;
        return made;
    };
    // fchmod, not the creation mode: the umask must not narrow 0666.
    if (fchmod(made.fd, 0666) != 0 || ftruncate(made.fd, static_cast<off_t>(size)) != 0)
        return fail(errno);
    mapping = MapShared(made.fd, size);
    if (!mapping) return fail(errno);
    if (init) init({static_cast<std::uint8_t*>(mapping), size});
    const std::string from = kShmDir + scratch;
    const std::string to = kShmDir + name;
    if (link(from.c_str(), to.c_str()) != 0) return fail(errno);
    shm_unlink(scratch.c_str());
    struct stat st {};
    fstat(made.fd, &st);
    made.size = size;
    made.device = st.st_dev;
    made.inode = st.st_ino;
    error = kErrorSuccess;
    return made;
}

}  // namespace

SharedMemory::SharedMemory(std::string objectName, Identity identity, std::uint8_t* data,
                           std::size_t size, bool created, bool unlinkWhenDestroyed)
    : objectName_(std::move(objectName)),
      identity_(identity),
      data_(data),
      size_(size),
      created_(created),
      unlinkWhenDestroyed_(unlinkWhenDestroyed) {}

SharedMemory::~SharedMemory() {
    if (unlinkWhenDestroyed_) Unlink();
    munmap(data_, size_);
}

std::unique_ptr<SharedMemory> SharedMemory::Create(std::string_view windowsName, std::size_t size,
                                                   ErrorCode* error, const Initializer& init,
                                                   Lifetime lifetime) {
    ErrorCode err = kErrorSuccess;
    auto result = [&](std::unique_ptr<SharedMemory> shm) {
        if (error) *error = err;
        return shm;
    };
    if (size == 0) {
        err = kErrorInvalidParameter;
        return result(nullptr);
    }
    const std::string name = IpcObjectName(windowsName);
    for (int attempt = 0; attempt < 3; ++attempt) {
        void* mapping = nullptr;
        Opened made = MakeAndPublish(name, size, init, mapping, err);
        if (made.fd >= 0) {
            close(made.fd);
            return result(std::unique_ptr<SharedMemory>(new SharedMemory(
                name, {made.device, made.inode}, static_cast<std::uint8_t*>(mapping), size, true,
                lifetime == Lifetime::kUnlinkWhenDestroyed)));
        }
        if (err != kErrorAlreadyExists) return result(nullptr);
        // Someone else published it first: open theirs. It may vanish again
        // before we get there (its creator unlinked it); then start over.
        auto existing = Open(windowsName, size, &err);
        if (existing) {
            err = kErrorAlreadyExists;
            return result(std::move(existing));
        }
        if (err != kErrorFileNotFound) return result(nullptr);
    }
    return result(nullptr);
}

std::unique_ptr<SharedMemory> SharedMemory::Open(std::string_view windowsName, std::size_t size,
                                                 ErrorCode* error) {
    const std::string name = IpcObjectName(windowsName);
    ErrorCode err = kErrorSuccess;
    Opened opened;
    std::unique_ptr<SharedMemory> shm;
    if (OpenExisting(name, opened, err)) {
        if (size == 0) size = opened.size;
        if (size == 0 || opened.size < size) {
            err = kErrorInvalidParameter;  // never map past the object's end
        } else if (void* mapping = MapShared(opened.fd, size)) {
            shm.reset(new SharedMemory(name, {opened.device, opened.inode},
                                       static_cast<std::uint8_t*>(mapping), size, false, false));
        } else {
            err = FromErrno(errno);
        }
        close(opened.fd);
    }
    if (error) *error = err;
    return shm;
}

bool SharedMemory::Unlink() {
    unlinkWhenDestroyed_ = false;
    // Only remove the name while it still names our object, not a newer one
    // that someone created after an earlier unlink.
    Opened current;
    ErrorCode err = kErrorSuccess;
    if (!OpenExisting(objectName_, current, err)) return false;
    close(current.fd);
    if (current.device != identity_.device || current.inode != identity_.inode) return false;
    return shm_unlink(objectName_.c_str()) == 0;
}

}  // namespace orv::platform
