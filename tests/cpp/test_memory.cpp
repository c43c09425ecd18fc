// Memory cgroup limits: the room under the process's own cgroup and its ancestors, on v1 and v2 trees
// laid out in a temporary directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "kiv/memory.hpp"

namespace {

namespace fs = std::filesystem;

class CgroupRoom : public ::testing::Test {
protected:
    void SetUp() override {
        // One tree per test and process, so that concurrent runs of the suite do not meet.
        root_ = fs::temp_directory_path() /
                ("kiv_cgroup_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const std::string& rel, const std::string& text) {
        const fs::path p = root_ / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    std::size_t room(const std::string& self_cgroup) {
        write("self_cgroup", self_cgroup);
        return kiv::cgroup_room((root_ / "self_cgroup").string(), (root_ / "sys").string());
    }

    fs::path root_;
};

TEST_F(CgroupRoom, V1LimitOfAnAncestorApplies) {
    write("sys/memory/memory.limit_in_bytes", "9223372036854771712\n");
    write("sys/memory/memory.usage_in_bytes", "50000000\n");
    write("sys/memory/svc/memory.limit_in_bytes", "1000000\n");
    write("sys/memory/svc/memory.usage_in_bytes", "400000\n");
    write("sys/memory/svc/job/memory.limit_in_bytes", "9223372036854771712\n");
    write("sys/memory/svc/job/memory.usage_in_bytes", "300000\n");
    EXPECT_EQ(room("9:name=systemd:/\n4:memory:/svc/job\n1:cpu,cpuacct:/\n0::/\n"), 600000u);
}

TEST_F(CgroupRoom, V1OwnLimitAndSharedControllerLine) {
    write("sys/memory/memory.limit_in_bytes", "9223372036854771712\n");
    write("sys/memory/memory.usage_in_bytes", "1\n");
    write("sys/memory/a/memory.limit_in_bytes", "5000\n");
    write("sys/memory/a/memory.usage_in_bytes", "1000\n");
    EXPECT_EQ(room("3:blkio,memory:/a\n"), 4000u);
}

TEST_F(CgroupRoom, V2LimitOfTheProcessCgroup) {
    // The root of a v2 tree has no memory.max; "max" means no limit at that level.
    write("sys/cgroup.controllers", "memory cpu\n");
    write("sys/user.slice/memory.max", "max\n");
    write("sys/user.slice/memory.current", "900000\n");
    write("sys/user.slice/app/memory.max", "2000000\n");
    write("sys/user.slice/app/memory.current", "500000\n");
    EXPECT_EQ(room("0::/user.slice/app\n"), 1500000u);
}

TEST_F(CgroupRoom, NamespacedTreeIsReadAtItsRoot) {
    // Inside a container the process's cgroup path may not exist under the mount, whose root is then
    // the container's own cgroup.
    write("sys/memory/memory.limit_in_bytes", "8000\n");
    write("sys/memory/memory.usage_in_bytes", "3000\n");
    EXPECT_EQ(room("4:memory:/docker/abc\n"), 5000u);
    EXPECT_EQ(room("4:memory:docker\n"), 5000u);
    write("sys/memory.max", "7000\n");
    write("sys/memory.current", "7500\n");
    EXPECT_EQ(room("0::/\n"), 0u);
}

TEST_F(CgroupRoom, NoLimitAnywhere) {
    EXPECT_EQ(room("4:memory:/svc\n0::/x\n"), SIZE_MAX);
    EXPECT_EQ(kiv::cgroup_room((root_ / "missing").string(), (root_ / "sys").string()), SIZE_MAX);
}

}  // namespace
