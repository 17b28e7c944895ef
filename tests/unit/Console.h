#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// What a run wrote to the console.
struct ConsoleOutput {
    std::string out;
    std::string err;
};

// Runs body with standard input reading input, and captures standard output
// and standard error.
ConsoleOutput withConsole(const std::string& input, const std::function<void()>& body);

// Command-line words as a process gets them: writable, null-terminated.
class Words {
public:
    Words(std::initializer_list<std::string> words);
    explicit Words(const std::vector<std::string>& words);
    int count() const { return static_cast<int>(storage.size()); }
    char** data() { return pointers.data(); }
    std::string at(int index) const { return storage[index].data(); }

private:
    std::vector<std::vector<char>> storage;
    std::vector<char*> pointers;
};
