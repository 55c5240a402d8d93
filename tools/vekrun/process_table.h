// The process table's rounds, for --procs and for what measures them.
#pragma once

#include <memory>
#include <string>

#include "options.h"

namespace vekrun {

// Each round takes one snapshot and prints the processes --match keeps, in
// the fields and order --fields and --sort chose (already checked).
class ProcessRounds {
public:
    explicit ProcessRounds(const Options& options);
    ~ProcessRounds();
    // The processor times a first round's percent is measured from.
    std::string Measure();
    // A round: empty text, or the problem; `matched` whether any process
    // matched (the first round prints nothing where none did).
    std::string Next(bool first, bool& matched);

private:
    struct State;
    const Options& options_;
    std::unique_ptr<State> state_;
};

}  // namespace vekrun
