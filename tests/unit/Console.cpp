#include "Console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

ConsoleOutput withConsole(const std::string& input, const std::function<void()>& body) {
    char path[] = "/tmp/userctl-stdin-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fd);
    EXPECT_NE(std::freopen(path, "r", stdin), nullptr);
    unlink(path);

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    body();
    std::fflush(stdout);
    ConsoleOutput output;
    output.out = testing::internal::GetCapturedStdout();
    output.err = testing::internal::GetCapturedStderr();
    return output;
}

Words::Words(std::initializer_list<std::string> words) : Words(std::vector<std::string>(words)) {}

Words::Words(const std::vector<std::string>& words) {
    for (const std::string& word : words) storage.emplace_back(word.c_str(), word.c_str() + word.size() + 1);
    for (std::vector<char>& word : storage) pointers.push_back(word.data());
    pointers.push_back(nullptr);
}
