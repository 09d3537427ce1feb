// The test-mode environment check over a temporary root, and the production server names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/TestEnvironment.h"

namespace ab {
namespace {

namespace fs = std::filesystem;

class TestEnvironmentCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("ab-env-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "etc");
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

TEST_F(TestEnvironmentCheck, NeedsTheFileAndTheShareFolder) {
    const TestEnvironment env(root_);
    EXPECT_EQ(env.ZvIniPath(), root_ / "etc/zv.ini");
    EXPECT_EQ(env.NetworkFolder(), root_ / "mnt/zv-rede/Sistemas/Testes");
    EXPECT_FALSE(env.IsPresent());

    std::ofstream(env.ZvIniPath()) << "[zv]\n";
    EXPECT_FALSE(env.IsPresent());  // file alone
    fs::create_directories(env.NetworkFolder());
    EXPECT_TRUE(env.IsPresent());

    fs::remove(env.ZvIniPath());
    fs::create_directory(env.ZvIniPath());  // a folder named zv.ini is not the file
    EXPECT_FALSE(env.IsPresent());
    EXPECT_EQ(TestEnvironment().ZvIniPath(), fs::path("/etc/zv.ini"));
}

TEST(ProductionServers, ComparedTrimmedAndUpperCased) {
    EXPECT_TRUE(IsProductionServer(u"192.0.2.10"));
    EXPECT_TRUE(IsProductionServer(u" \t198.51.100.10\r\n"));
    EXPECT_TRUE(IsProductionServer(u"atualizacao.Example.com "));
    EXPECT_FALSE(IsProductionServer(u"192.0.2.100"));
    EXPECT_FALSE(IsProductionServer(u"atualizacao.example.com.br"));
    EXPECT_FALSE(IsProductionServer(u"LOCALHOST"));
    EXPECT_FALSE(IsProductionServer(u""));
}

}  // namespace
}  // namespace ab
