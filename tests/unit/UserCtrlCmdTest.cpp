#include <gtest/gtest.h>

#include <new>

#include "Console.h"
#include "TestPlatform.h"
#include "UserCtrlCmd.h"

namespace {

struct Selection {
    std::vector<std::string> words;  // after the program name
    int status;
    std::string err;
};

int run(std::vector<std::string> words, ConsoleOutput& console) {
    words.insert(words.begin(), "userctl");
    Words argv(words);
    int status = -1;
    console = withConsole("", [&] { status = UserCtrlCmd().execute(argv.count(), argv.data()); });
    return status;
}

const std::string unsupported = "The specified command is not supported.(error=[";

}  // namespace

TEST(UserCtrlCmd, SelectsOnlyTheTwoCommandsWordForWord) {
    const Selection table[] = {
        {{}, 1, ""},
        {{"delete", "user"}, 1, unsupported + "delete])\n"},
        {{"add", "users"}, 1, unsupported + "users])\n"},
        {{"show", "user"}, 1, unsupported + "user])\n"},
        {{"add", "user_list"}, 1, unsupported + "user_list])\n"},
        {{"ADD", "user"}, 1, unsupported + "ADD])\n"},
        {{"Show", "user_list"}, 1, unsupported + "Show])\n"},
        {{"add"}, 1, unsupported + "])\n"},
        {{"show"}, 1, unsupported + "])\n"},
        {{"show", "user_list", "extra"}, 1, "The specified parameter is invalid.\n"},
        {{"add", "user", "a", "b", "c"}, 1, "The specified parameter is invalid.\n"},
        {{"show", "user_list"}, 0, ""},
    };
    for (const Selection& row : table) {
        SCOPED_TRACE(testing::PrintToString(row.words));
        testplatform::reset();
        ConsoleOutput console;
        EXPECT_EQ(run(row.words, console), row.status);
        EXPECT_EQ(console.err, row.err);
        // Only a selected, accepted command reaches the service.
        EXPECT_EQ(testplatform::state().requests.size(), row.status == 0 ? 1u : 0u);
    }
}

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
