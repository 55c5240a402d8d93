// The process table's rounds, for --procs and for what measures them.
#pragma once

#include <memory>
#include <string>

#include "capture.h"
#include "options.h"

namespace vekrun {

// Each round takes one snapshot and prints the processes --match keeps, in
// the fields and order --fields and --sort chose (already checked).
class ProcessRounds {
public:
    explicit ProcessRounds(const Options& options);
    ~ProcessRounds();
    // Where the rounds go, opened: empty text, or the problem naming the file.
    std::string Open();
    // Whether every round so far was written.
    bool Written() const { return written_; }
    // The processor times a first round's percent is measured from.
    std::string Measure();
    // A round: empty text, or the problem; `matched` whether any process
    // matched (the first round prints nothing where none did).
    std::string Next(bool first, bool& matched);

private:
    struct State;
    const Options& options_;
    std::unique_ptr<State> state_;
    RoundSink sink_;
    bool written_ = true;
};

}  // namespace vekrun
