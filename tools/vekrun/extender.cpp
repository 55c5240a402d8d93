// The host protocol, as the interpreter drives it: load, query, initialise,
// enumerate, keyword calls with a callback that copies the result,
// terminate and unload.
#include <string.h>

#include <algorithm>

#include "vekrun.h"

namespace vekrun {

using namespace vek;

Received received;

namespace {

int32_t CopyResult(int32_t status, uint32_t, HostContext*, ResultSlot* result) {
    ++received.calls;
    received.status = status;
    received.type = result->type;
    received.value = result->value;
    received.text = (result->type == kResultString && result->text) ? result->text : "";
    return status;
}

}  // namespace

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string SystemText(DWORD code) {
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ' ||
                          text[length - 1] == '.')) {
        text[--length] = '\0';
    }
    return length ? std::string(text) : "error " + std::to_string(code);
}

bool Load(Extender& ext, const Options& options) {
    ext.module = LoadLibraryA(options.dllPath.c_str());
    if (!ext.module) {
        const DWORD code = GetLastError();
        Print(stderr, "vekrun: cannot load %s: %s (error %lu)\n", options.dllPath.c_str(),
                SystemText(code).c_str(), code);
        return false;
    }
    ext.call = reinterpret_cast<VEKExtender2Proc>(
        reinterpret_cast<void*>(GetProcAddress(ext.module, "VEKExtender2")));
    ext.query = reinterpret_cast<VEKExtenderQueryProc>(
        reinterpret_cast<void*>(GetProcAddress(ext.module, "VEKExtenderQuery")));
    if (!ext.call || !ext.query) {
        Print(stderr, "vekrun: %s is not a VEK extender\n", options.dllPath.c_str());
        return false;
    }
    int32_t offered[] = {kAcceptedCode};
    if (ext.query(kQueryOfferedCodes, offered, 1) != kAcceptedCode) {
        Print(stderr, "vekrun: the extender does not accept this host\n");
        return false;
    }
    ext.context.hostVersion = options.hostVersion;
    char refusal[256] = "";
    int32_t count = ext.call(nullptr, 0, 0, kCallInitialise, CopyResult, &ext.context, 0, refusal,
                             0, nullptr);
    if (count < 0) {
        Print(stderr, "vekrun: initialise refused: %s\n", refusal);
        return false;
    }
    for (uint32_t index = 0;; ++index) {
        KeywordEntry entry = {};
        if (ext.call(nullptr, 0, 0, kCallEnumerate, CopyResult, &ext.context, 0, &entry, index,
                     nullptr) == 0) {
            break;
        }
        ext.keywords.push_back(entry);
    }
    return true;
}

void Unload(Extender& ext) {
    if (ext.call) {
        ext.call(nullptr, 0, 0, kCallTerminate, CopyResult, &ext.context, 0, nullptr, 0, nullptr);
    }
    if (ext.module) FreeLibrary(ext.module);
}

int Invoke(Extender& ext, const Options& options, std::vector<std::string>& words) {
    for (std::string& word : words) {
        if (word == "$PID") word = std::to_string(GetCurrentProcessId());
    }
    const std::string name = Lower(words[0]);
    const KeywordEntry* keyword = nullptr;
    for (const KeywordEntry& entry : ext.keywords) {
        if (name == entry.name) keyword = &entry;
    }
    if (!keyword) {
        return UsageProblem(options, "no keyword '" + words[0] + "' (vekrun --keywords lists them)");
    }
    const size_t given = words.size() - 1;
    received = Received();
    if (keyword->kind == kKindConstant) {
        if (given != 0 && !options.raw) {
            return UsageProblem(options, std::string(keyword->name) + " is a constant and takes no arguments");
        }
        received.calls = 1;
        received.type = kResultInteger;
        received.value = keyword->countOrValue;
        return kExitOk;
    }
    const size_t count = static_cast<size_t>(keyword->countOrValue);
    if (given != count && !options.raw) {
        return UsageProblem(options, std::string(keyword->name) + " takes " + std::to_string(count) +
                                         (count == 1 ? " argument, not " : " arguments, not ") +
                                         std::to_string(given));
    }
    // One slot per argument, and never fewer than the keyword declares: the
    // extender reads the slots it was promised.
    std::vector<ArgSlot> slots(std::max(count, given));
    for (size_t i = 0; i < slots.size(); ++i) {
        memset(&slots[i], 0, sizeof slots[i]);
        slots[i].text = i < given ? words[i + 1].c_str() : "";
    }
    ResultSlot result;
    memset(&result, 0, sizeof result);
    int32_t returned = ext.call(GetConsoleWindow(), 0, 0, keyword->id, CopyResult, &ext.context, 0,
                                slots.empty() ? nullptr : slots.data(), 0, &result);
    if (received.calls == 0) {
        if (returned == kReturnDialogCancelled) {
            Print(stderr, "%s: the dialog was cancelled\n", keyword->name);
            return kExitCancelled;
        }
        Print(stderr, "%s: no result (returned %d)\n", keyword->name, returned);
        return kExitCallFailed;
    }
    return kExitOk;
}

}  // namespace vekrun
