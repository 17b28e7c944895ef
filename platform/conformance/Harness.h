#pragma once

// The kit's harness: each test point runs in a child of its own, forked from
// a process that has made no platform call, under the signals userctl holds
// across an add and with those it ignores ignored, so that a point calls as
// the program does. Each platform call is bounded alone: the child beats just
// before it, and the parent gives it HalmLib::callSeconds from that beat, so
// that a library that hangs or crashes fails that point and the kit goes on.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kit {

// A point's outcome; for a helper child, its answer in reason.
struct Verdict {
    enum class Kind : char { ok = 'o', failed = 'n', skipped = 's' };
    Kind kind = Kind::ok;
    std::string reason;

    bool ok() const { return kind == Kind::ok; }
};

inline Verdict pass(std::string answer = {}) { return {Verdict::Kind::ok, std::move(answer)}; }
inline Verdict fail(std::string reason) { return {Verdict::Kind::failed, std::move(reason)}; }
inline Verdict skip(std::string reason) { return {Verdict::Kind::skipped, std::move(reason)}; }
// ok when good, else failed for reason.
inline Verdict expect(bool good, std::string reason) { return good ? pass() : fail(std::move(reason)); }

using Body = std::function<Verdict()>;

// The promises every call makes, which the harness checks around a child's
// calls: nothing written to standard output, nothing read from standard
// input, the signal mask and handlers kept, no thread left running, and
// whole lines on standard error.
enum Common : unsigned { output = 1, input = 2, signals = 4, threads = 8, errorLines = 16, everyCommon = 31 };

struct Point {
    std::string name;  // "Header: promise"
    Body body;
    unsigned common = everyCommon;  // those of the common promises it checks
};

// What a child answers for another: a fresh child forked from the pristine
// parent, given the question's argument.
struct Helper {
    const char* word;
    Verdict (*answer)(const std::string& argument);
};

// Runs every point, each in a child, and prints the TAP report on standard
// output. Returns 0 when every point is ok or skipped, 1 when one is not ok,
// 2 when the report cannot be written (nothing changed when that is found
// at its start; the run ends where it is found later).
int runPoints(const std::vector<Point>& points, const std::vector<Helper>& helpers);

// From within a child: the beat that starts a platform call's bound.
void beat();
// From within a child: account printed and flushed in the report before it
// is added; false when it could not be, and the account must not be added.
bool named(const std::string& account);
// From within a child: asks the parent to run helper word on argument in a
// fresh child, and returns its answer. The asker's bound waits meanwhile.
Verdict ask(const std::string& word, const std::string& argument);
// The reason given for a child that a signal ended.
std::string killedBy(int signal);

// A platform call: call() is made under a bound of its own.
template <typename Call>
decltype(auto) call(Call&& made) {
    beat();
    return std::forward<Call>(made)();
}

// A platform object whose construction, each use through ->, and destruction
// are each a platform call under a bound of its own.
template <typename T>
class Platform {
public:
    template <typename... Args>
    explicit Platform(Args&&... args) {
        beat();
        object.emplace(std::forward<Args>(args)...);
    }
    ~Platform() { reset(); }
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    T* operator->() {
        beat();
        return &*object;
    }
    T& get() { return *object; }  // handed to a call that another beat bounds
    void reset() {
        if (!object) return;
        beat();
        object.reset();
    }

private:
    std::optional<T> object;
};

// Bytes whose last one ends a page followed by an inaccessible one, so that
// a read past them crashes the reader.
class GuardedBytes {
public:
    explicit GuardedBytes(std::size_t size);
    ~GuardedBytes();
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    unsigned char* data() const { return base + length - size; }
    char* text() const { return reinterpret_cast<char*>(data()); }
    // Makes the bytes unreadable, so that a pointer to them kept by a
    // library crashes it at its next read.
    void revoke();

private:
    unsigned char* base;
    std::size_t length;  // the bytes' pages, the guard not included
    std::size_t size;
};

}  // namespace kit
