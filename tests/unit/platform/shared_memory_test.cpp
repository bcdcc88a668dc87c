#include "platform/shared_memory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "common/bytes.h"
#include "platform/paths.h"
#include "tests/support/test_util.h"

namespace orv::platform {
namespace {

using test::ForkChild;
using test::WaitChild;

class SharedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { test::UsePrivateIpcNamespace(); }
};

TEST_F(SharedMemoryTest, KernelObjectNamesMapIntoTheIpcNamespace) {
    setenv("ORV_IPC_NAMESPACE", "wall7", 1);
    EXPECT_EQ(IpcObjectName("Global\\ORV-SHARE-BUFFER12"), "/orv-wall7.Global.ORV-SHARE-BUFFER12");
    unsetenv("ORV_IPC_NAMESPACE");
    EXPECT_EQ(IpcObjectName("Global\\SyncDriverWaitEvent1"), "/orv.Global.SyncDriverWaitEvent1");
    EXPECT_EQ(IpcObjectName("a/b"), "/orv.a.b");
}

TEST_F(SharedMemoryTest, BytesWrittenByOneProcessAreReadByAnother) {
    constexpr std::size_t kSize = 3 * 4096 + 8;
    ErrorCode error = kErrorGenFailure;
    auto shm = SharedMemory::Create("Global\\ORV-SHARE-BUFFER1", kSize, &error,
                                    [](std::span<std::uint8_t> b) { bytes::PutU32(b, 0, 0x1234); });
    ASSERT_TRUE(shm);
    EXPECT_EQ(error, kErrorSuccess);
    EXPECT_TRUE(shm->Created());
    ASSERT_EQ(shm->Bytes().size(), kSize);
    EXPECT_EQ(shm->Bytes()[kSize - 1], 0);  // the rest is zero-filled

    const pid_t child = ForkChild([] {
        auto peer = SharedMemory::Open("Global\\ORV-SHARE-BUFFER1", kSize);
        std::uint32_t seen = 0;
        if (!peer || !bytes::GetU32(peer->Bytes(), 0, seen) || seen != 0x1234) return 1;
        bytes::PutU32(peer->Bytes(), kSize - 4, 0xCAFEF00D);
        return 0;
    });
    ASSERT_EQ(WaitChild(child), 0);
    std::uint32_t reply = 0;
    ASSERT_TRUE(bytes::GetU32(shm->Bytes(), kSize - 4, reply));
    EXPECT_EQ(reply, 0xCAFEF00Du);
}

TEST_F(SharedMemoryTest, ObjectIsOpenToEveryoneWhateverTheUmask) {
    const mode_t old = umask(077);
    auto shm = SharedMemory::Create("Global\\ORV-SHARE-BUFFER2", 64);
    umask(old);
    ASSERT_TRUE(shm);
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm" + shm->ObjectName()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(SharedMemoryTest, ObjectSmallerThanAskedIsRefused) {
    auto shm = SharedMemory::Create("Global\\Small", 100);
    ASSERT_TRUE(shm);
    ErrorCode error = kErrorSuccess;
    EXPECT_FALSE(SharedMemory::Open("Global\\Small", 4096, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);
    EXPECT_FALSE(SharedMemory::Create("Global\\Small", 101, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);

    auto whole = SharedMemory::Open("Global\\Small", 0, &error);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->Bytes().size(), 100u);
    auto existing = SharedMemory::Create("Global\\Small", 50, &error);
    ASSERT_TRUE(existing);
    EXPECT_EQ(error, kErrorAlreadyExists);
    EXPECT_FALSE(existing->Created());

    EXPECT_FALSE(SharedMemory::Create("Global\\Empty", 0, &error));
    EXPECT_EQ(error, kErrorInvalidParameter);
    EXPECT_FALSE(SharedMemory::Open("Global\\Missing", 8, &error));
    EXPECT_EQ(error, kErrorFileNotFound);
}

TEST_F(SharedMemoryTest, CreatorUnlinksOnlyItsOwnObject) {
    auto first = SharedMemory::Create("Global\\Reused", 16);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->Unlink());
    auto second = SharedMemory::Create("Global\\Reused", 16);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->Created());
    first.reset();  // must not remove the newer object of the same name
    EXPECT_TRUE(SharedMemory::Open("Global\\Reused", 16));
    second.reset();
    EXPECT_FALSE(SharedMemory::Open("Global\\Reused", 16));
}

TEST_F(SharedMemoryTest, RacingCreatorsShareOneInitialisedObject) {
    // Every process creates the same name at once; whoever wins, all must
    // see the winner's initial content, never a half-made object.
    constexpr int kProcesses = 4;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i)
        children.push_back(ForkChild([] {
            auto shm = SharedMemory::Create(
                "Global\\Race", 4096, nullptr,
                [](std::span<std::uint8_t> b) { std::fill(b.begin(), b.end(), 0x5A); },
                SharedMemory::Lifetime::kKeep);
            if (!shm) return 1;
            const auto b = shm->Bytes();
            return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0x5A; }) ? 0
                                                                                             : 2;
        }));
    for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
    auto shm = SharedMemory::Open("Global\\Race", 4096);
    ASSERT_TRUE(shm);
    EXPECT_TRUE(shm->Unlink());
    // Nothing of the namespace is left behind, scratch objects included.
    const std::string prefix = IpcPrefix().substr(1);
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
        EXPECT_FALSE(entry.path().filename().string().starts_with(prefix)) << entry.path();
}

}  // namespace
}  // namespace orv::platform
