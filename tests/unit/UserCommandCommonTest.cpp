#include <gtest/gtest.h>

#include "Console.h"
#include "Probe.h"
#include "TestPlatform.h"

namespace {

class CommandBase : public testing::Test {
protected:
    void SetUp() override { testplatform::reset(); }
    const std::vector<std::string>& trace() { return testplatform::state().trace; }
    Probe probe;
};

}  // namespace

TEST_F(CommandBase, ConfirmationTakesOnlyALoneYOrN) {
    const std::string prompt = "Sure? [Y/N]: ";
    struct Row {
        std::string input;
        bool result;
        int prompts;
    } table[] = {
        {"y\n", true, 1},  {"Y\n", true, 1},  {"n\n", false, 1}, {"N\n", false, 1},
        {"yes\nno\n\n y\nx\nY\n", true, 6},
        {"y\r\nn\n", false, 2},  // the carriage return counts as a character
        {"", false, 1},           // end of input declines, never loops
        {"x\ny", false, 2},       // so does a last line without its line feed
    };
    for (const Row& row : table) {
        SCOPED_TRACE(testing::PrintToString(row.input));
        bool result = !row.result;
        const ConsoleOutput console = withConsole(row.input, [&] { result = probe.isExecute(prompt.c_str()); });
        EXPECT_EQ(result, row.result);
        std::string prompts;
        for (int i = 0; i < row.prompts; ++i) prompts += prompt;
        EXPECT_EQ(console.out, prompts);
        EXPECT_EQ(console.err, "");
    }
}

TEST_F(CommandBase, KeywordsMatchWholeAndCaseSensitive) {
    EXPECT_TRUE(probe.checkKeyword("", ""));
    EXPECT_TRUE(probe.checkKeyword("quiet", "quiet"));
    EXPECT_FALSE(probe.checkKeyword(nullptr, "admin"));
    EXPECT_FALSE(probe.checkKeyword("admin", nullptr));
    EXPECT_FALSE(probe.checkKeyword("admin ", "admin"));
    EXPECT_FALSE(probe.checkKeyword("adm", "admin"));

    Words quiet{"quiet"}, upper{"Quiet"};
    char* none[] = {nullptr};
    bool flag = false;
    EXPECT_TRUE(probe.getQuiet(quiet.data(), flag));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(probe.getQuiet(upper.data(), flag));
    EXPECT_FALSE(flag);
    flag = true;
    EXPECT_FALSE(probe.getQuiet(none, flag));
    EXPECT_FALSE(flag);
}

TEST_F(CommandBase, PrivilegeKeywordsGiveTheirCodes) {
    const std::pair<const char*, unsigned int> table[] = {
        {"admin", 1}, {"operator", 2}, {"user", 3}, {"ce", 4}, {"partition_operator", 5}};
    for (const auto& [word, code] : table) {
        unsigned int privilege = 0;
        EXPECT_TRUE(probe.getPrivilege(word, privilege)) << word;
        EXPECT_EQ(privilege, code) << word;
    }
    EXPECT_TRUE(trace().empty());

    unsigned int privilege = 9;
    EXPECT_FALSE(probe.getPrivilege("Admin", privilege));
    EXPECT_EQ(privilege, 9u);
    EXPECT_FALSE(probe.getPrivilege(std::string(200, 'p').c_str(), privilege));
    EXPECT_EQ(trace(), (std::vector<std::string>{
                           "CLI UserCommandCommon: privilege [Admin] is not supported.",
                           "CLI UserCommandCommon: privilege [" + std::string(128, 'p') + "] is not supported."}));
}

TEST_F(CommandBase, CommandTextAppendsEveryWord) {
    std::string text = "show user_list";
    Words words{"x", "y z"};
    probe.getCmdString(text, 0, words.data());
    EXPECT_EQ(text, "show user_list");
    probe.getCmdString(text, 2, words.data());
    EXPECT_EQ(text, "show user_list x y z");
}

TEST_F(CommandBase, ExecuteRunsOnlyAfterAnAcceptedParse) {
    EXPECT_EQ(probe.processCommand(0, nullptr), 42);
    probe.accept = false;
    EXPECT_EQ(probe.processCommand(0, nullptr), 1);
    EXPECT_EQ(probe.executed, 1);

    const ConsoleOutput console = withConsole("", [&] {
        EXPECT_EQ(probe.printParameterInvalid(), "The specified parameter is invalid.\n");
    });
    EXPECT_EQ(console.err, "The specified parameter is invalid.\n");
    EXPECT_EQ(console.out, "");
}

TEST_F(CommandBase, UserNameRules) {
    const std::string tooShort = "CLI UserCommandCommon: Username is too short. [";
    const std::string tooLong = "CLI UserCommandCommon: Username is too long. [";
    const std::string invalid = "CLI UserCommandCommon: Invalid character is included in UserName. [";
    const std::pair<std::string, std::string> table[] = {  // name, trace ("" when accepted)
        {"abcdefgh", ""},
        {"a" + std::string(31, 'b'), ""},
        {"a1_-B2-_", ""},
        {"abcdefg", tooShort + "abcdefg] "},
        {"a" + std::string(32, 'b'), tooLong + "a" + std::string(32, 'b') + "] "},
        {std::string(200, 'n'), tooLong + std::string(128, 'n') + "] "},
        {"1abcdefg", invalid + "1abcdefg] (top word is bad format)."},
        {"_abcdefg", invalid + "_abcdefg] (top word is bad format)."},
        {"-abcdefg", invalid + "-abcdefg] (top word is bad format)."},
        {"abc.defg", invalid + "abc.defg] "},
        {"abc defg", invalid + "abc defg] "},
        {"abc\xc3\xa9" "defg", invalid + "abc\xc3\xa9" "defg] "},
        {"1bcdef", tooShort + "1bcdef] "},  // length is judged first
    };
    for (const auto& [name, line] : table) {
        SCOPED_TRACE(name);
        testplatform::reset();
        std::string copy = "old";
        EXPECT_EQ(probe.getUserName(name.c_str(), copy), line.empty());
        EXPECT_EQ(copy, name);
        EXPECT_EQ(trace(), line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
    }
}

TEST_F(CommandBase, PasswordRulesNeverTraceThePassword) {
    const std::string prefix = "CLI UserCommandCommon: ";
    const std::pair<std::string, std::string> table[] = {
        {"!!!!!!!!", ""},
        {"12345678", ""},
        {std::string(32, '~'), ""},
        {"seven77", prefix + "Password is too short."},
        {std::string(33, 'a'), prefix + "Password is too long."},
        {"pass word", prefix + "Invalid character is included in Password."},
    };
    for (const auto& [password, line] : table) {
        SCOPED_TRACE(password);
        testplatform::reset();
        std::string copy;
        EXPECT_EQ(probe.getPassword(password.c_str(), copy), line.empty());
        EXPECT_EQ(copy, password);
        EXPECT_EQ(trace(), line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
    }
    // The set is exactly the printable characters but the blank.
    for (int byte = 1; byte < 256; ++byte) {
        std::string copy;
        const std::string password = "abcdefg" + std::string(1, static_cast<char>(byte));
        EXPECT_EQ(probe.getPassword(password.c_str(), copy), byte >= 0x21 && byte <= 0x7E) << byte;
    }
}
