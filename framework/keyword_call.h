// One keyword call as the functions see it: its arguments, its result and
// its outcome; the keyword table and the functions it names.
#pragma once

#include <windows.h>

#include "keyword_registry.h"
#include "messages.h"
#include "numbers.h"
#include "text_buffer.h"
#include "vek_host.h"

namespace vek {

constexpr size_t kResultTextCapacity = 65536;

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

typedef Outcome (*KeywordFunction)(KeywordCall& call);

// The keyword table (keywords.cpp), made from the registry.
int32_t KeywordCount();
int EnumerateKeyword(uint32_t keywordIndex, KeywordEntry* record);
// Runs the function the id names, after its platform check; the message id
// "no such function" where none answers (0, the constants, 15 to 21, out of
// range).
Outcome CallKeyword(int32_t id, KeywordCall& call);
// What the keyword side releases as the host terminates the extender.
void TerminateKeywords();

// The keyword functions, a source file each area, as the registry names them.
#define VEK_DECLARE_FUNCTION(id, function, ...) Outcome function(KeywordCall& call);
#define VEK_NO_DECLARATION(...)
VEK_KEYWORDS(VEK_DECLARE_FUNCTION, VEK_NO_DECLARATION)
#undef VEK_DECLARE_FUNCTION
#undef VEK_NO_DECLARATION

// The keyword side's part in terminate (proc_handles.cpp): the handles
// tOpenProc gave the script and it has not closed.
void CloseScriptHandles();

}  // namespace vek
