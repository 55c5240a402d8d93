// vekrun: a command-line host for VEK extenders. It loads an extender the
// way the interpreter does and prints what comes back, for people and for
// scripts alike.
#include "json_text.h"
#include "writers.h"
#include "owner.h"
#include "console.h"
#include "counter_discovery.h"
#include "doctor.h"
#include "host_protocol.h"
#include "keyword_help.h"
#include "keyword_registry.h"
#include "options.h"
#include "output.h"
#include "process_jobs.h"
#include "sampling.h"
#include "script.h"
#include "text.h"

using namespace vekrun;

namespace {

int About(Extender& ext, const Options& options) {
    char description[256] = "";
    const int32_t version = ext.query(vek::kQueryDescription, description, sizeof description);
    json::Object about;
    about.Add("description", json::Quote(description)).Add("version", std::to_string(version));
    if (options.action == Action::kVersion) {
        if (options.json) {
            json::Object extender;
            extender.Add("path", json::Quote(options.dllPath));
            extender.Add("description", json::Quote(description));
            extender.Add("version", std::to_string(version));
            Print(stdout, "%s\n",
                  json::Object()
                      .Add("vekrun", std::to_string(VEKRUN_VERSION))
                      .Add("extender", extender.Text())
                      .Text()
                      .c_str());
        } else {
            Print(stdout, "vekrun %d\n%s %d (%s)\n", VEKRUN_VERSION, description, version,
                  options.dllPath.c_str());
        }
    } else if (options.json) {
        Print(stdout, "%s\n", about.Text().c_str());
    } else {
        Print(stdout, "%s %d\n", description, version);
    }
    return kExitOk;
}

// The arguments as they were typed. The C runtime's argv is the ANSI command
// line, which Windows makes with best fit: fullwidth '\uFF12\uFF15\uFF16'
// arrives as '256', look-alikes as quotes and slashes. Each UTF-16 argument
// is converted without it; the first that the code page cannot hold is
// `bad` (its place on the command line), shown as typed in `shown`.
std::vector<std::string> TypedArguments(int argc, char** argv, int& bad, std::string& shown) {
    int count = 0;
    const vek::LocalOwner<LPWSTR*> owned(CommandLineToArgvW(GetCommandLineW(), &count));
    LPWSTR* const wide = owned.Get();
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (ToAnsi(wide[i], args[i]) || bad >= 0) continue;
        bad = i;
        for (const wchar_t* c = wide[i]; *c; ++c) {  // as \uXXXX where the code page cannot show it
            char unit[8];
            snprintf(unit, sizeof unit, *c < 0x80 ? "%c" : "\\u%04X", *c);
            shown += unit;
        }
    }
    return args;
}

// An argument the code page cannot hold, named as the call counts its
// arguments, whatever options stand before them.
std::string TypedProblem(const Options& options, int bad, const std::string& shown) {
    if (bad < 0) return std::string();
    std::string name = "argument " + std::to_string(bad) + " of the command line";
    for (size_t k = 0; k < options.wordPlaces.size(); ++k) {
        if (options.wordPlaces[k] == bad)
            name = k == 0 ? "the keyword" : "argument " + std::to_string(k);
    }
    return name + " ('" + shown + "') holds a character that the ANSI code page (" +
           std::to_string(GetACP()) + ") lacks";
}

// --csv outside sampling writes a list as Export-Csv does; any other result
// has no CSV but PerfMon's, of samples.
std::string CsvProblem(const Options& options) {
    if (!options.csv || options.action != Action::kCall || options.everySeconds > 0) return "";
    const ResultShape shape = ShapeOf(options.words[0]);
    if (shape == ResultShape::kProcessList || shape == ResultShape::kModuleList) return "";
    return std::string("--csv goes with --every, or with a list keyword (") +
           vek::keyword_name::tListProc + ", " + vek::keyword_name::tListMod + ")";
}

}  // namespace

int main(int argc, char** argv) {
    int bad = -1;
    std::string shown;
    std::vector<std::string> typed = TypedArguments(argc, argv, bad, shown);
    std::vector<char*> pointers;
    for (std::string& arg : typed) pointers.push_back(&arg[0]);
    Options options;
    std::string parsed = ParseOptions(static_cast<int>(pointers.size()), pointers.data(), options);
    // --help and --help KEYWORD answer before the options' combination is looked at.
    if (parsed.empty() && options.action == Action::kHelp && options.words.size() <= 1) {
        if (options.words.size() == 1) return PrintHelp(options);
        Print(stdout, "%s", UsageText().c_str());
        return kExitOk;
    }
    if (parsed.empty()) parsed = CombinationProblem(options);
    if (parsed.empty()) parsed = CsvProblem(options);
    if (parsed.empty() && options.action == Action::kProcs) parsed = ProcessTableProblem(options);
    if (parsed.empty()) parsed = TypedProblem(options, bad, shown);
    if (!parsed.empty()) return UsageProblem(options, parsed);
    // The process jobs write names as the system gives them, in UTF-8.
    SetUtf8Output(options.json || options.csv || options.action == Action::kProcs ||
                  options.action == Action::kKill || options.action == Action::kWait ||
                  options.action == Action::kCounters);

    Extender ext;
    if (!Load(ext, options)) {
        Unload(ext);
        return kExitNoExtender;
    }
    int outcome = kExitOk;
    switch (options.action) {
        case Action::kAbout:
        case Action::kVersion: outcome = About(ext, options); break;
        case Action::kKeywords: PrintKeywords(ext, options); break;
        case Action::kScript: outcome = RunScript(ext, options); break;
        case Action::kDoctor: outcome = Doctor(ext, options); break;
        case Action::kHelp: break;
        case Action::kProcs: outcome = ProcessTable(options); break;
        case Action::kKill: outcome = KillProcesses(options); break;
        case Action::kWait: outcome = WaitForProcesses(options); break;
        case Action::kCounters: outcome = ListCounters(options); break;
        case Action::kCall:
            // Prometheus's form is a sample's, once without --every.
            if (options.everySeconds > 0 || options.prom) {
                Options once = options;
                if (!(options.everySeconds > 0)) once.samples = 1;
                outcome = Sample(ext, once, {SampledCall{options.words, 0}});
                break;
            }
            outcome = Call(ext, options, options.words);
            if (outcome == kExitCallFailed && TakesHandle(options.words[0])) {
                Print(stderr,
                      "vekrun: a handle lives only as long as the vekrun that opened it: open and "
                      "use it in one script ('$h = tOpenProc PID 3', then 'tKillProc $h' and "
                      "'tCloseProc $h')\n");
            }
            break;
    }
    fflush(stdout);
    Unload(ext);
    return OutputFailed() ? kExitCallFailed : outcome;
}
