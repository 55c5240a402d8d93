// The host's binary interface: the records the interpreter lays out and the
// extender reads or writes in place. Shared by the DLL, vekrun and the tests,
// so a layout change breaks all three at compile time, not at run time.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

constexpr int32_t kExtenderVersion = 44017;
constexpr uint32_t kMinimumHostVersion = 1004;

// Control calls of VEKExtender2 (the low 16 bits of callCode, signed).
constexpr int32_t kCallInitialise = -1;
constexpr int32_t kCallEnumerate = -2;
constexpr int32_t kCallTerminate = -3;

// What a keyword call hands the callback, and the one return without it.
constexpr int32_t kStatusSuccess = 0;
constexpr int32_t kStatusFailure = -1;
constexpr int32_t kReturnDialogCancelled = -5;

// VEKExtenderQuery codes.
constexpr int32_t kQueryDescription = 1;
constexpr int32_t kQueryOfferedCodes = 2;
constexpr int32_t kAcceptedCode = 4;

constexpr int32_t kResultInteger = 1;
constexpr int32_t kResultString = 2;

constexpr int32_t kKindFunction = 2;
constexpr int32_t kKindConstant = 3;

// Initialise copies this refusal into the host's buffer (at least 30 bytes).
constexpr char kRefusalText[] = "Need newer version of VEK DLL";

struct HostContext {
    uint8_t hostReserved[16];
    uint32_t hostVersion;
};
static_assert(offsetof(HostContext, hostVersion) == 16, "HostContext.hostVersion");

struct ArgSlot {
    uint8_t hostReserved[40];
    const char* text;
    uint8_t hostTail[8];
};
static_assert(offsetof(ArgSlot, text) == 40, "ArgSlot.text");
static_assert(sizeof(ArgSlot) == 56, "ArgSlot stride");

struct ResultSlot {
    uint8_t hostReserved[32];
    int32_t value;
    int32_t type;
    const char* text;
};
static_assert(offsetof(ResultSlot, value) == 32, "ResultSlot.value");
static_assert(offsetof(ResultSlot, type) == 36, "ResultSlot.type");
static_assert(offsetof(ResultSlot, text) == 40, "ResultSlot.text");
static_assert(sizeof(ResultSlot) == 48, "ResultSlot size");

constexpr size_t kKeywordNameCapacity = 34;

struct KeywordEntry {
    int32_t id;
    int32_t kind;
    uint8_t argTypes[8];
    int32_t countOrValue;
    uint16_t nameLength;
    char name[kKeywordNameCapacity];
};
static_assert(offsetof(KeywordEntry, id) == 0, "KeywordEntry.id");
static_assert(offsetof(KeywordEntry, kind) == 4, "KeywordEntry.kind");
static_assert(offsetof(KeywordEntry, argTypes) == 8, "KeywordEntry.argTypes");
static_assert(offsetof(KeywordEntry, countOrValue) == 16, "KeywordEntry.countOrValue");
static_assert(offsetof(KeywordEntry, nameLength) == 20, "KeywordEntry.nameLength");
static_assert(offsetof(KeywordEntry, name) == 22, "KeywordEntry.name");
static_assert(sizeof(KeywordEntry) == 56, "KeywordEntry size");

typedef int32_t (*HostCallback)(int32_t status, uint32_t hostTag, HostContext* context,
                                ResultSlot* result);

// The two exports, as a host resolves them with GetProcAddress.
typedef int32_t (*VEKExtender2Proc)(void* hostWindow, uint64_t unused2, uint32_t hostTag,
                                    int32_t callCode, HostCallback callback,
                                    HostContext* hostContext, uint64_t unused7, void* slots,
                                    uint32_t keywordIndex, ResultSlot* result);
typedef int32_t (*VEKExtenderQueryProc)(int32_t queryCode, void* buffer, int32_t length);

}  // namespace vek
