// One keyword call as the functions see it: its arguments, its result and
// its outcome; the keyword table and the functions it names.
#pragma once

#include <windows.h>

#include "numbers.h"
#include "text_buffer.h"
#include "vek_host.h"

namespace vek {

constexpr size_t kResultTextCapacity = 65536;

// Outcomes of a keyword function besides its message ids.
enum KeywordOutcome : int {
    kSucceeded = 0,
    kCancelledWithoutCallback = -5,  // the host gets kReturnDialogCancelled, no callback
    kCalledBackItself = -100,        // the function called back; its value is returned
};

// Per-call storage, in the stack frame of VEKExtender2: it ends when the
// call returns, after the host has copied the result in its callback.
struct KeywordCall {
    HWND hostWindow;
    const uint8_t* slots;
    ResultSlot* result;
    HostCallback callback;
    uint32_t hostTag;
    HostContext* hostContext;
    int32_t callbackValue;  // set by a function that calls back itself
    char numberText[kDoubleTextCapacity];
    char resultText[kResultTextCapacity];
};

const char* ArgText(const KeywordCall& call, int index);
void SetInteger(KeywordCall& call, int32_t value);
void SetString(KeywordCall& call, const char* text);
TextBuffer ResultBuffer(KeywordCall& call);

typedef int (*KeywordFunction)(KeywordCall& call);

// The keyword table (keywords.cpp).
int32_t KeywordCount();
int EnumerateKeyword(uint32_t keywordIndex, KeywordEntry* record);
// Null where no function answers to the id (0, the constants, 15 to 21, out of range).
KeywordFunction FindKeywordFunction(int32_t id);
// What the keyword side releases as the host terminates the extender.
void TerminateKeywords();

// The keyword functions, a source file each area.
int tVersion(KeywordCall& call);
int tCompatible(KeywordCall& call);
int tGetLastError(KeywordCall& call);
int tListProc(KeywordCall& call);
int tCountProc(KeywordCall& call);
int tOpenProc(KeywordCall& call);
int tKillProc(KeywordCall& call);
int tCloseProc(KeywordCall& call);
int tSetPriority(KeywordCall& call);
int tGetPriority(KeywordCall& call);
int tGetProcInfo(KeywordCall& call);
int tListMod(KeywordCall& call);
int tGetModInfo(KeywordCall& call);
int tGetData(KeywordCall& call);
int tBrowseCntrs(KeywordCall& call);
int tParseCntrPath(KeywordCall& call);
int tRemoteConn(KeywordCall& call);

// The keyword side's part in terminate (proc_handles.cpp): the handles
// tOpenProc gave the script and it has not closed.
void CloseScriptHandles();

}  // namespace vek
