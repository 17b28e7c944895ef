#include "Process.h"

namespace board {

namespace {

std::optional<Process> state;

}  // namespace

Process& process() { return state ? *state : state.emplace(); }

void forgetState() { state.emplace(); }

}  // namespace board
