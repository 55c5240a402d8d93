// A capture that runs for weeks: each round written and flushed as it is
// taken, so that a crash or a power cut loses at most the round under way;
// pieces that each stand alone (their own header), never renamed or
// reopened once finished, so that a reader holding one never stops it.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "capture.h"
#include "clock.h"
#include "console.h"
#include "text.h"

namespace vekrun {

namespace {

// FILE's folder (with its separator), stem and extension.
void SplitName(const std::string& file, std::string& folder, std::string& stem, std::string& ext) {
    const size_t slash = file.find_last_of("\\/:");
    folder = slash == std::string::npos ? "" : file.substr(0, slash + 1);
    const std::string name = file.substr(folder.size());
    const size_t dot = name.rfind('.');
    stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    ext = name.substr(stem.size());
}

// The file written beside FILE before it is moved over it.
constexpr char kBeside[] = ".vekrun-new";

std::string Said(const std::string& what, const std::string& file, DWORD code) {
    return what + " " + file + " (" + CodeText(static_cast<int32_t>(code)) + ")";
}

// Written whole, or false with the system's code kept.
bool WriteAll(HANDLE file, const std::string& text) {
    DWORD done = 0;
    for (size_t at = 0; at < text.size(); at += done) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size() - at, 1 << 20));
        if (!WriteFile(file, text.data() + at, piece, &done, nullptr)) return false;
    }
    return true;
}

// NUL, CON and the other devices take what is written as Windows gives it
// them: they are neither flushed nor replaced.
bool IsDevice(const std::string& file) {
    const vek::FileHandleGuard opened(CreateFileA(
        file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    return opened && GetFileType(opened.Get()) != FILE_TYPE_DISK;
}

}  // namespace

bool IsPieceOf(const std::string& file, const std::string& name) {
    std::string folder, stem, ext;
    SplitName(file, folder, stem, ext);
    constexpr char kStamp[] = "-dddddddd-dddddd-ddd";
    const size_t stamp = sizeof kStamp - 1;
    if (name.size() != stem.size() + stamp + ext.size() ||
        Lower(name.substr(0, stem.size())) != Lower(stem) ||
        Lower(name.substr(name.size() - ext.size())) != Lower(ext))
        return false;
    for (size_t i = 0; i < stamp; ++i) {
        const char c = name[stem.size() + i];
        if (kStamp[i] == 'd' ? !(c >= '0' && c <= '9') : c != kStamp[i]) return false;
    }
    return true;
}

// A new piece beside FILE, named by the UTC time it opens; one of the same
// millisecond waits for the next.
std::string RoundSink::Piece(std::string& name) {
    std::string folder, stem, ext;
    SplitName(options_.outputFile, folder, stem, ext);
    for (int tries = 0; tries < 100; ++tries) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        SYSTEMTIME t;
        FileTimeToSystemTime(&now, &t);
        char stamp[32];
        snprintf(stamp, sizeof stamp, "-%04u%02u%02u-%02u%02u%02u-%03u", t.wYear, t.wMonth, t.wDay,
                 t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
        name = folder + stem + stamp + ext;
        file_.Reset(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_) return std::string();
        if (GetLastError() != ERROR_FILE_EXISTS) break;
        Sleep(1);
    }
    return Said("cannot create", name, GetLastError());
}

std::string RoundSink::Open() {
    if (options_.outputFile.empty()) return std::string();
    const std::string& file = options_.outputFile;
    // Replaced whole each round, as the textfile collector wants it: its
    // folder is checked now, by the file written beside it, and FILE is left
    // as it is until the first round replaces it.
    device_ = IsDevice(file);
    if (options_.prom && !device_) {
        const std::string beside = file + kBeside;
        const vek::FileHandleGuard probe(CreateFileA(beside.c_str(), GENERIC_WRITE | DELETE, 0,
                                                     nullptr, CREATE_ALWAYS,
                                                     FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return probe ? std::string() : Said("cannot create", beside, GetLastError());
    }
    std::string problem;
    if (options_.prom) {
        file_.Reset(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file_) problem = Said("cannot open", file, GetLastError());
    } else if (options_.rotateBytes || options_.rotateSeconds > 0) {
        problem = Piece(name_);
    } else {
        name_ = file;
        // A capture continued with another header would be a broken file:
        // an existing one is never overwritten nor continued.
        file_.Reset(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, device_ ? OPEN_EXISTING : CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_ && GetLastError() == ERROR_FILE_EXISTS)
            problem =
                file + " exists; a capture never overwrites a file (name another, or delete it)";
        else if (!file_)
            problem = Said("cannot create", file, GetLastError());
    }
    openedAt_ = NowMs();
    return problem;
}

// Old pieces beyond --keep, the newest kept; one a reader holds is tried again
// at the next rotation, said once.
void RoundSink::DeleteOld() {
    if (options_.keep <= 0) return;
    std::string folder, stem, ext;
    SplitName(options_.outputFile, folder, stem, ext);
    std::vector<std::string> pieces;
    WIN32_FIND_DATAA found;
    const vek::Owner<HANDLE, FindClose, -1> search(
        FindFirstFileA((folder + stem + "-*" + ext).c_str(), &found));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileA(search.Get(), &found)) {
        if (IsPieceOf(options_.outputFile, found.cFileName)) pieces.push_back(found.cFileName);
    }
    std::sort(pieces.begin(), pieces.end());
    for (size_t i = 0; i + static_cast<size_t>(options_.keep) < pieces.size(); ++i) {
        if (DeleteFileA((folder + pieces[i]).c_str()) || undeletedSaid_) continue;
        Print(stderr, "vekrun: %s; tried again at the next piece\n",
              Said("cannot delete", folder + pieces[i], GetLastError()).c_str());
        undeletedSaid_ = true;
    }
}

bool RoundSink::Rotate() {
    file_.Reset();
    const std::string problem = Piece(name_);
    if (!problem.empty()) return Print(stderr, "vekrun: %s\n", problem.c_str()), false;
    written_ = 0;
    openedAt_ = NowMs();
    DeleteOld();
    return true;
}

// The whole file written beside it, then moved over it: a reader never
// sees half a round.
bool RoundSink::Replace(const std::string& text) {
    const std::string& file = options_.outputFile;
    const std::string beside = file + kBeside;
    bool done = false;
    {
        const vek::FileHandleGuard out(CreateFileA(beside.c_str(), GENERIC_WRITE, 0, nullptr,
                                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        done = out && WriteAll(out.Get(), text) && FlushFileBuffers(out.Get());
    }
    done = done && MoveFileExA(beside.c_str(), file.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (done) return true;
    const DWORD code = GetLastError();
    DeleteFileA(beside.c_str());
    Print(stderr, "vekrun: %s\n", Said("cannot write", file, code).c_str());
    return false;
}

bool RoundSink::Put(const std::string& header, const std::string& body) {
    if (options_.outputFile.empty()) {
        Write(stdout, (first_ ? header : std::string()) + body);
        first_ = false;
        return !OutputFailed();
    }
    if (options_.prom && !device_) return Replace(header + body);
    const bool bySize =
        options_.rotateBytes && written_ > 0 && written_ + body.size() > options_.rotateBytes;
    const bool byTime =
        options_.rotateSeconds > 0 && NowMs() - openedAt_ >= options_.rotateSeconds * 1000;
    if ((bySize || byTime) && !Rotate()) return false;
    const std::string text = (written_ == 0 ? header : std::string()) + body;
    if (!WriteAll(file_.Get(), text) || (!device_ && !FlushFileBuffers(file_.Get()))) {
        Print(stderr, "vekrun: %s\n", Said("cannot write", name_, GetLastError()).c_str());
        return false;
    }
    written_ += text.size();
    return true;
}

}  // namespace vekrun
