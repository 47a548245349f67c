// Times the list views' column sort on an order crafted against its middle pivot (each
// partition's middle row holds the smallest key left), and on a shuffled order of the same keys.
// Usage: sort-bench [ROWS] [RUNS]  (defaults 100000 and 5)
#include "core/JobListSort.h"
#include "storage/LogReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> CraftedKeys(int n) {
    std::vector<int> slot(static_cast<size_t>(n)), key(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        slot[static_cast<size_t>(i)] = i;
    for (int low = 0; low < n; ++low) {
        const int middle = (low + n - 1) / 2;
        key[static_cast<size_t>(slot[static_cast<size_t>(middle)])] = low;
        std::swap(slot[static_cast<size_t>(low)], slot[static_cast<size_t>(middle)]);
    }
    std::vector<std::string> keys;
    for (int k : key)
        keys.push_back(std::to_string(10000000 + k) + "   ");
    return keys;
}

template <typename F> double Milliseconds(F&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::vector<std::string> crafted = CraftedKeys(rows);
    std::vector<std::string> shuffled(crafted);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    std::printf("| order | rows | log viewer ms | job list ms |\n|---|---|---|---|\n");
    const std::vector<std::pair<const char*, const std::vector<std::string>*>> orders{
        {"crafted", &crafted}, {"shuffled", &shuffled}};
    for (const auto& [name, keys] : orders) {
        std::vector<double> log, jobs;
        for (int run = 0; run < runs; ++run) {
            std::vector<storage::LogRow> logRows(keys->size());
            for (size_t i = 0; i < keys->size(); ++i)
                logRows[i][1] = (*keys)[i];
            log.push_back(Milliseconds([&] { storage::SortLogRows(logRows, 1); }));
            core::CJobList list;
            for (size_t i = 0; i < keys->size(); ++i) {
                list.InsertRow(static_cast<int>(i), "Yes", -1);
                list.SetText(static_cast<int>(i), core::kColPages, (*keys)[i]);
            }
            jobs.push_back(Milliseconds([&] { core::SortRows(list, core::kColPages); }));
        }
        std::printf("| %s | %d | %.0f | %.0f |\n", name, rows, Median(log), Median(jobs));
    }
    return 0;
}
