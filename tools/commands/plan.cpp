// SPDX-License-Identifier: MIT
// tidepack plan FILE --install-dir DIR [--json] [--strict] [--codepage N] [FOLDERS]
#include <utility>

#include "commands/command_line.h"
#include "commands/tidepack.h"
#include "plan/plan_report.h"

namespace {

// plan's folders and switches.
bool TakePlanOption(const std::vector<std::string>& args, std::size_t* i, PlanOptions* plan,
                    std::string* error) {
    PlanFolders& folders = plan->folders;
    const std::pair<const char*, std::string*> FOLDERS[] = {
        {"--install-dir", &folders.installDir},   {"--windows-dir", &folders.windowsDir},
        {"--system-dir", &folders.systemDir},     {"--program-menu", &folders.programMenu},
        {"--desktop", &folders.desktop},          {"--start-menu", &folders.startMenu},
        {"--startup-menu", &folders.startUpMenu}, {"--app-data", &folders.appData},
    };
    for (const auto& [name, value] : FOLDERS)
        if (TakeValue(args, i, name, value, error)) return true;
    if (args[*i] == "--json") return plan->json = true;
    if (args[*i] == "--strict") return plan->strict = true;
    return false;
}

}  // namespace

int PlanPatch(const PlanOptions& options, std::FILE* out, std::FILE* err) {
    Report report = PrintingReport(out, err);
    return ExitCode(ReportPlan(options, &report));
}

int RunPlanCommand(const std::vector<std::string>& args) {
    PlanOptions plan;
    std::vector<std::string> operands;
    int done = ParseArguments(
        args,
        [&](const std::vector<std::string>& args, std::size_t* i, std::string* error) {
            return TakeCodePage(args, i, &plan.folders.codePage, error) ||
                   TakePlanOption(args, i, &plan, error);
        },
        &operands);
    if (done >= 0) return done;
    if (operands.size() != 1) return Usage("plan needs exactly one package or program");
    if (plan.folders.installDir.empty()) return Usage("plan needs --install-dir DIR");
    plan.path = operands[0];
    return PlanPatch(plan, stdout, stderr);
}
