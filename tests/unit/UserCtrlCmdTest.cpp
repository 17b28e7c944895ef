#include <gtest/gtest.h>

#include <new>

#include "Console.h"
#include "TestPlatform.h"
#include "UserCtrlCmd.h"

namespace {

int run(std::vector<std::string> words, ConsoleOutput& console) {
    words.insert(words.begin(), "userctl");
    Words argv(words);
    int status = -1;
    console = withConsole("", [&] { status = UserCtrlCmd().execute(argv.count(), argv.data()); });
    return status;
}

}  // namespace

TEST(UserCtrlCmd, HandsTheCommandTheWordsAfterItsTwo) {
    testplatform::reset();
    ConsoleOutput console;
    run({"add", "user", "a", "b", "c", "d"}, console);
    // The first word the command judged is "a": it is the name refused.
    ASSERT_FALSE(testplatform::state().trace.empty());
    EXPECT_EQ(testplatform::state().trace[0], "CLI UserCommandCommon: Username is too short. [a] ");
}

TEST(UserCtrlCmd, ReleasesTheCommandWhenAnExceptionEscapes) {
    testplatform::reset();
    testplatform::state().getInfoRaises = std::make_exception_ptr(std::bad_alloc());
    Words argv{"userctl", "show", "user_list"};
    EXPECT_THROW(UserCtrlCmd().execute(argv.count(), argv.data()), std::bad_alloc);
    EXPECT_EQ(testplatform::state().traceObjects, 0);
    EXPECT_EQ(testplatform::state().requesters, 0);
}

TEST(UserCtrlCmd, AnEmptyArgumentVectorSelectsNothing) {
    char* argv[] = {nullptr};
    EXPECT_EQ(UserCtrlCmd().execute(0, argv), 1);
}
