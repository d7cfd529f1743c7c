// The trusted-certificate file is checked (and later loaded) without waiting on what is not a
// small regular file, and says which file is wrong and why.
#include "CTlsSession.h"
#include "TempDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

using testsupport::TempDir;

TEST(TrustedCertificateFile, WhatIsNotASmallPemFileIsRefusedAtOnceWithItsName) {
    TempDir dir;
    const std::string fifo = dir.file("ca.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = dir.file("large.pem").string();
    testsupport::WriteFileBytes(large, {});
    std::filesystem::resize_file(large, 2 << 20);
    const std::string text = dir.file("notes.pem").string();
    testsupport::WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {fifo, "it is not a regular file"},
        {dir.path().string(), "it is not a regular file"},
        {large, "it is larger than 1 MiB"},
        {text, "it holds no certificate in PEM form"},
        {dir.file("missing.pem").string(), "No such file or directory"},
    };
    for (const auto& c : cases) {
        auto check = std::async(std::launch::async, [&] { return CTlsSession::CheckCertificateFile(c.path); });
        if (check.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << c.path << ": still waiting";
            ::close(::open(c.path.c_str(), O_WRONLY | O_NONBLOCK)); // lets a reader stuck on the FIFO go
        }
        EXPECT_EQ(check.get(), "the certificate file " + c.path + " cannot be used (" + c.reason + ")");
    }
}
