#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "CGI_USER_INFO.h"
#include "HalmTrace.h"

// Exit statuses of the program.
namespace exitStatus {
constexpr int success = 0;       // done, or the user declined
constexpr int invalid = 1;       // no command, an unknown one, or refused parameters
constexpr int failed = 3;        // the board failed or refused
constexpr int noMoreUsers = 46;  // the service holds no further account
constexpr int sameName = 47;     // the service already holds the name
}  // namespace exitStatus

// The abstract user command. A command runs in two stages: parseCommand
// judges every word and keeps what execute needs; execute alone talks to the
// board. processCommand runs them once each, execute only after a good parse.
// The shared rules for keywords, names, passwords and partitions live here;
// their trace lines go through commonTrace, never to the console.
class UserCommandCommon {
public:
    // Every console message and trace text is composed into a buffer of this
    // size and cut to fit.
    static constexpr std::size_t textBufferSize = 256;

    UserCommandCommon();
    virtual ~UserCommandCommon();
    UserCommandCommon(const UserCommandCommon&) = delete;
    UserCommandCommon& operator=(const UserCommandCommon&) = delete;

    // Judges the words after the two command words (count of them, then the
    // terminating null). False after the command has printed its messages.
    virtual bool parseCommand(int count, char** words) = 0;
    // Carries the command out; returns the exit status.
    virtual int execute() = 0;

    // 1 when parseCommand refuses, else what execute returns. However the
    // command ends, a refusal, a failure or an exception before its question
    // or without one, the reply line its words promise (replyOwed) is read
    // before it returns.
    int processCommand(int count, char** words);

    // Asks prompt on standard output until a line of exactly Y, y, N or n.
    // End of input, a read error, a line longer than maxLineLength or a
    // prompt that cannot be written counts as N. Reads nothing past the
    // reply's line feed, so the next reader of the input gets the rest. The
    // reply owed is then the question's to read.
    bool isExecute(const char* prompt);

    // Whole, case-sensitive equality; false when either is null. The
    // selector's keywords are compared by the same rule.
    static bool checkKeyword(const char* word, const char* keyword);
    // Privilege keyword to code; false (privilege unchanged) for another word.
    bool getPrivilege(const char* word, unsigned int& privilege);
    // Whether words[0] is exactly "quiet"; quiet is set to the same.
    bool getQuiet(char** words, bool& quiet);
    // Writes the invalid-parameter message to standard error; returns it.
    std::string printParameterInvalid();
    // Appends a blank and each of the count words to text.
    void getCmdString(std::string& text, int count, const char* const* words);

    // Copy text into the output, then judge it; false after one trace line.
    bool getUserName(const char* text, std::string& userName);
    bool getPassword(const char* text, std::string& password);
    // The longest line read from standard input: an input without line
    // feeds (/dev/zero) is read no further, and the line is refused.
    static constexpr std::size_t maxLineLength = 1024;

    // "- -" in place of the two password words: the password and its
    // repetition each one line of standard input, read as the reply is (its
    // bytes before the line feed, nothing after it; the end of input ends a
    // last line too). At a terminal (readPasswords) each is asked for on
    // standard error ("Password: ", "Retype password: ") with its typing not
    // echoed, the repetition once the password is accepted, and judged as
    // getPassword judges a word; when either is refused, or the two differ,
    // what was typed ahead is discarded before echo comes back, and so is
    // what was typed of a line when a signal ends or stops the command at
    // its prompt. From anything
    // else both lines are read at once (readPasswordLines, which answers how
    // many were there), whatever the command then refuses, and each is judged
    // in its turn (judgeTyped): the lines that follow are left for whatever
    // reads next. A line the input ended before is refused as missing.
    static bool atTerminal();
    bool readPasswords(std::string& password, std::string& passwordAgain);
    int readPasswordLines(std::string& password, std::string& passwordAgain);
    bool judgeTyped(bool there, const std::string& password);

    // A partition specification ("all", or numbers and ranges joined by
    // commas) to the ascending list of partitions it names. On refusal the
    // list is empty and one trace line names the specification.
    bool getPartitionType(const char* specification, std::vector<int>& list);
    // The list form alone, without a trace line; appends on success.
    bool getPartitionIdList(const char* specification, std::vector<int>& list);
    bool parsePartIdList(std::string& text, std::vector<int>& list);
    // Partition list to mask, and mask to its text such as #0,#1,#3.
    void setPartitionNo(std::vector<int>& list, unsigned long& mask);
    std::string getPartitionNo(unsigned long mask);

protected:
    // Composes a trace line into a textBufferSize buffer and writes it.
    static void putTrace(HalmLib::trace::HalmTrace& trace, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
    // Writes a console message, cut to a textBufferSize buffer, on standard
    // error.
    static void printConsole(const char* message);
    // The order a failure is told in: its trace line, then the console,
    // unless the caller says why the console comes first.
    enum class Told { traceFirst, consoleFirst };
    // A command failed (catalogue message 10047): text in trace, with the
    // platform exception's detail and action (0 and 0 where none was
    // caught), and message on the console. Returns exitStatus::failed.
    static int commandFailed(HalmLib::trace::HalmTrace& trace, const char* message, const char* text, int detail = 0,
                             int action = 0, Told order = Told::traceFirst);
    // A platform call failed (catalogue message 20003): the call named in
    // trace, then message on the console. Returns exitStatus::failed.
    static int callFailed(HalmLib::trace::HalmTrace& trace, const char* message, const char* call);

    HalmLib::trace::HalmTrace commonTrace;
    // Set when the words promise a reply line that no one types (piped "- -"
    // lines without quiet): a script that answers several commands through
    // one pipe gives each its lines by its words alone, whatever fails.
    bool replyOwed = false;

private:
    // The one place a failure is told: line, a catalogue text, in trace and
    // message on the console, in order. Returns exitStatus::failed.
    static int tellFailure(HalmLib::trace::HalmTrace& trace, const char* line, const char* message, Told order);
    // The password rules, for a password already in password.
    bool judgePassword(const std::string& password);
    bool inputEnded = false;  // standard input read to its end, or to a line past maxLineLength
    // The board's partition count, held within the width of a mask.
    static int partitionCount();
};
