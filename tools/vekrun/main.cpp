// vekrun: a command-line host for VEK extenders. It loads an extender the
// way the interpreter does and prints what comes back, for people and for
// scripts alike.
#include "vekrun.h"

using namespace vekrun;

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0) return parsed;

    Extender ext;
    if (!Load(ext, options)) {
        Unload(ext);
        return kExitNoExtender;
    }
    int outcome = kExitOk;
    switch (options.action) {
        case Action::kAbout: {
            char description[256] = "";
            const int32_t version = ext.query(vek::kQueryDescription, description, sizeof description);
            Print(stdout, "%s %d\n", description, version);
            break;
        }
        case Action::kKeywords: PrintKeywords(ext); break;
        case Action::kScript: outcome = RunScript(ext, options); break;
        case Action::kDoctor: outcome = Doctor(ext, options); break;
        case Action::kCall:
            outcome = options.everySeconds > 0 ? Sample(ext, options, options.words) : Call(ext, options, options.words);
            break;
    }
    fflush(stdout);
    Unload(ext);
    return outcome;
}
