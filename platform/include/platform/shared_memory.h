// Named shared memory between processes ("Global\ORV-SHARE-BUFFER<id>" and the
// named events' state words).
//
// A kernel-object name "Global\Name" is the POSIX shared-memory object
// IpcObjectName(name) ("/orv.Global.Name", or "/orv-X.Global.Name" in the
// IPC namespace X). Objects are created with mode 0666 whatever the umask, so
// the peer process (the display driver) can open them, as the Windows mapping
// is opened to everyone.
//
// Create publishes an object only once it has its full size and its initial
// content: it is built under a private name and linked into place, so a peer
// never opens a half-made object. The object that created a name unlinks it
// when destroyed (unless told to keep it); mappings in other processes stay
// valid until they are destroyed too.
//
// Threads: any; an object is not shared between threads without the caller's
// own synchronisation of the bytes. No locks, no blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace orv::platform {

class SharedMemory {
public:
    // Fills the bytes of a new object before it becomes visible under its name.
    using Initializer = std::function<void(std::span<std::uint8_t>)>;
    enum class Lifetime { kUnlinkWhenDestroyed, kKeep };

    // Makes the object `windowsName` of `size` bytes (zero-filled, then
    // `init`), or opens the existing one, which must hold at least `size`
    // bytes. Maps `size` bytes. nullptr on failure with `*error` set:
    // kErrorInvalidParameter for size 0, or an existing object that is
    // smaller; the errno translation otherwise. `*error` is
    // kErrorAlreadyExists when an existing object was opened (as Windows
    // reports it), kErrorSuccess when this call made it.
    static std::unique_ptr<SharedMemory> Create(std::string_view windowsName, std::size_t size,
                                                ErrorCode* error = nullptr,
                                                const Initializer& init = {},
                                                Lifetime lifetime = Lifetime::kUnlinkWhenDestroyed);

    // Opens an existing object and maps `size` bytes of it (0: all of it).
    // nullptr on failure: kErrorFileNotFound when there is none,
    // kErrorInvalidParameter when it is smaller than `size` (or empty).
    static std::unique_ptr<SharedMemory> Open(std::string_view windowsName, std::size_t size,
                                              ErrorCode* error = nullptr);

    ~SharedMemory();  // unmaps; unlinks the name if this object made it
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    std::span<std::uint8_t> Bytes() const { return {data_, size_}; }
    // True when this object made the name (false: it opened an existing one).
    bool Created() const { return created_; }
    const std::string& ObjectName() const { return objectName_; }

    // Removes the name now, if it still names this object. Peers that have
    // it mapped keep their mapping; later Opens fail. True when removed.
    bool Unlink();

private:
    struct Identity {  // device and inode: recognises the object when unlinking
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
    };
    SharedMemory(std::string objectName, Identity identity, std::uint8_t* data, std::size_t size,
                 bool created, bool unlinkWhenDestroyed);

    const std::string objectName_;
    const Identity identity_;
    std::uint8_t* const data_;
    const std::size_t size_;
    const bool created_;
    bool unlinkWhenDestroyed_;
};

}  // namespace orv::platform
