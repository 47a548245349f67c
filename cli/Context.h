#pragma once

#include "core/AddFile.h"
#include "core/JobList.h"
#include "core/Prompter.h"
#include "engine/Automation.h"
#include "engine/DebugTrace.h"
#include "engine/PageCounter.h"
#include "engine/Pump.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// What every command works with.
struct Context {
    std::ostream& out;
    std::ostream& err;
    core::Prompter& prompter;
    engine::Automation& automation;
    engine::CDebugTrace& trace;
    // A further automation of the same kind, for a worker of its own (run --jobs).
    std::function<std::unique_ptr<engine::Automation>(core::Trace&)> newAutomation;
    std::vector<std::string> words; // the command's own words, after its name
    engine::CNoPump pump;
    engine::CNoConnectionDialog connection;
    bool errIsTerminal = false; // err is a terminal a person watches

    // What adding a job to `list` needs: page counts come from the automation.
    core::AddFileHooks AddFileHooksFor(core::CJobList& list) {
        auto counter =
            std::make_shared<engine::CPageCounter>(automation, prompter, pump, connection, &list);
        return {[counter](const std::string& path, int row) { return counter->Count(path, row); },
                {},
                {},
                {}};
    }
};

// Prints the problem and the usage text; returns the usage exit status.
int Usage(Context& c, const std::string& problem);

// The commands; each returns the exit status.
int Expand(Context& c);
int Check(Context& c);
int Pages(Context& c);
int Jobs(Context& c);
int Log(Context& c);
int RunBatch(Context& c);
int SplitOne(Context& c);
int Plan(Context& c);
int Ranges(Context& c);

} // namespace cli
