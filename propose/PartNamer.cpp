#include "propose/PartNamer.h"

#include "core/Files.h"
#include "propose/SafeName.h"

#include <algorithm>

namespace propose {

PartNamer JobPartNamer(core::PlanJob job, core::SetupOptions options) {
    // Names go without their folder; one is needed for the dialog's check all the same.
    if (job.splitTo.empty())
        job.splitTo = ".";
    return [job, options](const std::vector<core::PageRange>& ranges) {
        core::PlanJob named = job;
        named.parameters.clear();
        for (const core::PageRange& range : ranges) {
            named.pages = std::max(named.pages, range.last);
            if (!named.parameters.empty())
                named.parameters += ',';
            named.parameters += std::to_string(range.first) + "-" + std::to_string(range.last);
        }
        const core::CSplitPlan plan = core::CSplitPlan::Make(named, options);
        std::vector<std::string> names;
        if (plan.Refused() || plan.Outputs().size() != ranges.size())
            return names;
        for (const core::PlannedOutput& output : plan.Outputs())
            names.push_back(core::FileTitle(output.path));
        return names;
    };
}

size_t ListedNameRoom(const std::string& source, const core::SetupOptions& options) {
    constexpr size_t kFileNameBytes = 255;
    core::PlanJob job;
    job.source = source;
    job.parameters = "1";
    job.splitTo = ".";
    job.incrementNames = true;
    job.fileList = "x"; // a one-letter name, to see what the job puts around it
    job.pages = 1;
    const core::CSplitPlan plan = core::CSplitPlan::Make(job, options);
    if (plan.Refused() || plan.Outputs().empty())
        return kMaxNameBytes;
    const size_t around = core::FileTitle(plan.Outputs().front().path).size() - 1;
    return std::clamp<size_t>(kFileNameBytes - std::min(kFileNameBytes, around), 1, kMaxNameBytes);
}

} // namespace propose
