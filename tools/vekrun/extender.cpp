// The host protocol, as the interpreter drives it: load, query, initialise,
// enumerate, keyword calls with a callback that copies the result,
// terminate and unload.
#include <string.h>

#include <algorithm>

#include "json_text.h"
#include "system_library.h"
#include "host_protocol.h"
#include "console.h"
#include "keyword_help.h"
#include "keyword_registry.h"
#include "options.h"
#include "text.h"
#include "message_ids.h"

namespace vekrun {

using namespace vek;

namespace {

// The record the running call's callback fills; one call at a time.
Result* receiving = nullptr;

int32_t CopyResult(int32_t status, uint32_t, HostContext*, ResultSlot* slot) {
    if (!receiving) return status;
    ++receiving->calls;
    receiving->status = status;
    receiving->type = slot->type;
    receiving->value = slot->value;
    receiving->text = (slot->type == kResultString && slot->text) ? slot->text : "";
    return status;
}

std::string Quoted(const std::string& word) {
    return word.empty() || word.find_first_of(" \t") != std::string::npos ? "\"" + word + "\""
                                                                          : word;
}

}  // namespace

std::string Reason(const Result& result) {
    std::string reason = result.codeRead ? CodeText(result.code) : std::string();
    // 213 comes from a damaged, localised or missing counter-name list; 211
    // from a PDH.DLL that lacks an entry point, or Wine's, whose stubs it
    // will not call: the doctor names which, and the remedy.
    if (result.MessageId() == vek::kMsgNoCounterIndex || result.MessageId() == vek::kMsgOldPdh)
        reason += (reason.empty() ? "" : "; ") + std::string("run 'vekrun --doctor'");
    // Windows refuses to open an id that names no process (or one that has
    // ended) with ERROR_INVALID_PARAMETER, whose words say nothing of it.
    if (result.codeRead && result.code == ERROR_INVALID_PARAMETER && !result.processId.empty())
        reason += "; no process has id " + result.processId;
    return reason;
}

std::string FailureLine(const std::vector<std::string>& words, const Result& result) {
    std::string line;
    for (const std::string& word : result.typed.empty() ? words : result.typed)
        line += (line.empty() ? "" : " ") + Quoted(word);
    std::string message = result.calls ? result.text : "no result";
    while (!message.empty() && (message.back() == ' ' || message.back() == '\n'))
        message.pop_back();
    const std::string reason = Reason(result);
    return line + ": " + message + (reason.empty() ? "" : " (" + reason + ")");
}

bool Load(Extender& ext, const Options& options) {
    std::string problem;
    int32_t code = 0;
    ext.context.hostVersion = options.hostVersion;
    ext.module.Reset(LoadLibraryA(options.dllPath.c_str()));
    if (!ext.module) {
        code = static_cast<int32_t>(GetLastError());
        problem = "cannot load " + options.dllPath;
    } else {
        ext.call = reinterpret_cast<VEKExtender2Proc>(
            reinterpret_cast<void*>(GetProcAddress(ext.module.Get(), "VEKExtender2")));
        ext.query = reinterpret_cast<VEKExtenderQueryProc>(
            reinterpret_cast<void*>(GetProcAddress(ext.module.Get(), "VEKExtenderQuery")));
        int32_t offered[] = {kAcceptedCode};
        char refusal[256] = "";
        if (!ext.call || !ext.query) {
            problem = options.dllPath + " is not a VEK extender";
        } else if (ext.query(kQueryOfferedCodes, offered, 1) != kAcceptedCode) {
            problem = "the extender does not accept this host";
        } else if (ext.call(nullptr, 0, 0, kCallInitialise, CopyResult, &ext.context, 0, refusal, 0,
                            nullptr) < 0) {
            problem = std::string("initialise refused: ") + refusal;
        }
    }
    if (!problem.empty()) {
        const std::string reason = CodeText(code, options.dllPath);
        Print(stderr, "vekrun: %s%s\n", problem.c_str(),
              reason.empty() ? "" : (" (" + reason + ")").c_str());
        if (options.json) {
            Print(stdout, "%s\n", json::Failure(0, "load", 0, problem, code, reason).c_str());
        }
        return false;
    }
    for (uint32_t index = 0;; ++index) {
        KeywordEntry entry = {};
        if (ext.call(nullptr, 0, 0, kCallEnumerate, CopyResult, &ext.context, 0, &entry, index,
                     nullptr) == 0)
            break;
        ext.keywords.push_back(entry);
    }
    return true;
}

void Unload(Extender& ext) {
    if (ext.call)
        ext.call(nullptr, 0, 0, kCallTerminate, CopyResult, &ext.context, 0, nullptr, 0, nullptr);
    ext.module.Reset();
}

const KeywordEntry* FindKeyword(const Extender& ext, const std::string& word) {
    const std::string name = Lower(word);
    for (const KeywordEntry& entry : ext.keywords) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

std::string CallProblem(const Extender& ext, const Options& options,
                        std::vector<std::string>& words, const std::string* last,
                        std::vector<std::string>* typed) {
    for (std::string& word : words) {
        const std::string lower = Lower(word);
        if (lower == "$pid") word = std::to_string(GetCurrentProcessId());
        if (lower == "$last") {
            if (!last) return "$LAST stands for the previous call's result, and there is none";
            word = *last;
        }
    }
    if (typed) *typed = words;
    const KeywordEntry* keyword = FindKeyword(ext, words[0]);
    if (!keyword) return "no keyword '" + words[0] + "' (vekrun --keywords lists them)";
    if (options.raw) return std::string();
    const size_t given = words.size() - 1;
    const KeywordHelp* help = FindHelp(words[0]);
    const std::string name = help ? help->name : keyword->name;  // as the reference spells it
    if (keyword->kind == kKindConstant) {
        return given == 0 ? std::string() : name + " is a constant and takes no arguments";
    }
    const size_t count = static_cast<size_t>(keyword->countOrValue);
    if (given != count) {
        return name + " takes " + std::to_string(count) +
               (count == 1 ? " argument, not " : " arguments, not ") + std::to_string(given);
    }
    for (size_t i = 0; i < given; ++i) {
        const std::string problem = ArgumentProblem(ArgumentName(help, i).c_str(), words[i + 1]);
        if (!problem.empty()) return problem;
    }
    return std::string();
}

int Invoke(Extender& ext, const Options& options, std::vector<std::string>& words, Result& result,
           const std::string* last) {
    result = Result();
    const std::string problem = CallProblem(ext, options, words, last, &result.typed);
    if (!problem.empty()) return UsageProblem(options, problem);
    const KeywordEntry* keyword = FindKeyword(ext, words[0]);  // CallProblem found it
    if (words.size() > 1 && ArgumentName(FindHelp(words[0]), 0) == "PID")
        result.processId = words[1];
    if (keyword->kind == kKindConstant) {
        result.calls = 1;
        result.type = kResultInteger;
        result.value = keyword->countOrValue;
        return kExitOk;
    }
    // One slot per argument, and never fewer than the keyword declares: the
    // extender reads the slots it was promised.
    const size_t given = words.size() - 1;
    std::vector<ArgSlot> slots(std::max(static_cast<size_t>(keyword->countOrValue), given));
    for (size_t i = 0; i < slots.size(); ++i) {
        memset(&slots[i], 0, sizeof slots[i]);
        slots[i].text = i < given ? words[i + 1].c_str() : "";
    }
    ResultSlot slot;
    memset(&slot, 0, sizeof slot);
    receiving = &result;
    const int32_t returned =
        ext.call(GetConsoleWindow(), 0, 0, keyword->id, CopyResult, &ext.context, 0,
                 slots.empty() ? nullptr : slots.data(), 0, &slot);
    receiving = nullptr;
    if (result.calls == 0) {
        if (returned == kReturnDialogCancelled) return kExitCancelled;
        result.text = "no result (returned " + std::to_string(returned) + ")";
        return kExitCallFailed;
    }
    // Each vekrun is a process of its own, so the code a failure kept is read
    // at once or never (reading clears it); --raw makes the extender's calls alone.
    if (result.Failed() && !options.raw && ShapeOf(keyword->name) != ResultShape::kSavedCode) {
        std::vector<std::string> ask = {vek::keyword_name::tGetLastError};
        Result kept;
        Options plain;
        plain.raw = true;
        if (Invoke(ext, plain, ask, kept) == kExitOk && !kept.Failed() &&
            kept.type == kResultInteger) {
            result.codeRead = true;
            result.code = kept.value;
        }
    }
    return kExitOk;
}

}  // namespace vekrun
