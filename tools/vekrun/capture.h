// Where each round of sampling goes: stdout, or --output's file, in pieces
// with --rotate, or replaced whole each round with --prom.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "options.h"
#include "owner.h"

namespace vekrun {

class RoundSink {
public:
    explicit RoundSink(const Options& options) : options_(options) {}
    // Opens --output's first piece (nothing for stdout): empty text, or the
    // problem naming the file.
    std::string Open();
    // One round, written whole and flushed: `header` heads every piece (and
    // stdout's first round), `body` is the round. False when it could not be
    // written (said on stderr): the capture ends, what was written intact.
    bool Put(const std::string& header, const std::string& body);

private:
    std::string Piece(std::string& name);
    bool Rotate();
    void DeleteOld();
    bool Replace(const std::string& text);

    const Options& options_;
    vek::FileHandleGuard file_;
    std::string name_;        // the piece being written
    ULONGLONG written_ = 0;   // its bytes
    ULONGLONG openedAt_ = 0;  // when it was opened, in ms
    bool first_ = true;       // stdout's first round
    bool device_ = false;     // FILE is NUL, CON or another device
    bool undeletedSaid_ = false;
};

// A piece of `file` by its name: the stem, a dash, the UTC time it was opened
// (yyyymmdd-hhmmss-mmm), the extension; "" for a name that is not one.
bool IsPieceOf(const std::string& file, const std::string& name);

}  // namespace vekrun
