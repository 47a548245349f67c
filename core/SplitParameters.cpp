#include "core/SplitParameters.h"

#include "core/Text.h"

#include <algorithm>
#include <vector>

namespace core {

namespace {

// Writes consecutive ranges produced by `next` until it reports the end or the list is full.
// Arithmetic is 64-bit: a hand-edited page count near the 32-bit limit must not wrap.
template <typename Next> int WriteRun(int c, CRangeList& ranges, Next next) {
    PageRange range;
    while (next(range)) {
        if (!ranges.Put(c, range))
            break;
        ++c;
    }
    ranges.PutEndMark(c);
    return c;
}

int32_t Clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

} // namespace

int ExpandSplitItem(std::string_view item, int c, int32_t pages, int32_t skip, CRangeList& ranges,
                    ExpandContext& context) {
    std::vector<std::string_view> tokens;
    ForEachToken(item, "-", [&](std::string_view t) { tokens.push_back(t); });

    const int64_t P = pages;
    const int64_t S = skip;
    int values = 0;
    for (size_t ti = 0; ti < tokens.size(); ++ti) {
        std::string_view t = tokens[ti];
        size_t firstS = t.find('s');
        if (firstS != std::string_view::npos && firstS + 1 == t.size()) {
            // A chunk size of 0 would never advance: such an item yields nothing.
            const int64_t N = LeadingInt(t);
            int64_t b = S;
            return WriteRun(c, ranges, [&](PageRange& r) {
                if (N <= 0 || b >= P)
                    return false;
                r = {Clamp32(b + 1), Clamp32(std::min(b + N, P))};
                b += N;
                return true;
            });
        }
        if (Contains(item, "n") && !Contains(item, "even")) {
            const int64_t A = LeadingInt(t);
            if (ti + 1 >= tokens.size() && context.prompter) {
                context.prompter->Show("Error in split n parameters, should be e.g. 1-2n");
                context.stepMissing = true;
                return 1;
            }
            // Without a step (or with a step of 0) the item yields nothing.
            const int64_t B = ti + 1 < tokens.size() ? LeadingInt(tokens[ti + 1]) : 0;
            int64_t b = A - 1;
            return WriteRun(c, ranges, [&](PageRange& r) {
                if (B <= 0 || b >= P)
                    return false;
                r = {Clamp32(b + 1), Clamp32(b + 1)};
                b += B;
                return true;
            });
        }
        if (Contains(t, "odd") || Contains(t, "even")) {
            int64_t p = S + (Contains(t, "odd") ? 1 : 2);
            return WriteRun(c, ranges, [&](PageRange& r) {
                if (p > P)
                    return false;
                r = {Clamp32(p), Clamp32(p)};
                p += 2;
                return true;
            });
        }
        // A plain number: the first two make the range; any further ones are ignored.
        if (values < 2) {
            const int32_t value = LeadingInt(t);
            if (c > CRangeList::kCapacity) {
                ranges.SetOverflowed();
            } else if (values == 0) {
                ranges.At(c).first = value;
            } else {
                ranges.At(c).last = value;
            }
        }
        ++values;
    }
    return c;
}

int ExpandSplitString(std::string_view text, int32_t pages, int32_t skip, CRangeList& ranges,
                      ExpandContext& context) {
    int c = 1;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        std::string_view item = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        ranges.PutEndMark(c);
        int next = ExpandSplitItem(item, c, pages, skip, ranges, context);
        PageRange& entry = ranges.At(next);
        if (entry.last == 0 && entry.first > 0)
            entry.last = entry.first;
        c = entry.first > 0 ? next + 1 : next;
        if (comma == std::string_view::npos)
            return c;
        start = comma + 1;
    }
}

int SplitParameters(const CJobList& list, std::string_view text, int row, CRangeList& ranges,
                    Trace& trace) {
    if (trace.IsOn())
        trace.Line(Format("SplitParameters, buf: %.*s, nItem: %d\r\n",
                          static_cast<int>(text.size()), text.data(), row));
    ExpandContext quiet;
    return ExpandSplitString(text, LeadingInt(list.Text(row, kColPages)),
                             LeadingInt(list.Text(row, kColSkipPages)), ranges, quiet);
}

std::string TooManyRangesText() {
    return Format("Too many page ranges (at most %d).", CRangeList::kCapacity);
}

bool CheckSplitParameters(const SplitCheckFields& fields, Prompter& prompter) {
    if (fields.splitTo.empty()) {
        prompter.Show("you must specify an destination directory", "Error Destination");
        return false;
    }
    if (fields.parameters == "blank")
        return true;

    CRangeList ranges;
    ExpandContext context{&prompter};
    const int end =
        ExpandSplitString(fields.parameters, fields.pages, fields.skip, ranges, context);
    if (context.stepMissing)
        return false;
    const std::string caption = "Error in parameters";
    if (ranges.Overflowed()) {
        prompter.Show(TooManyRangesText(), caption);
        return false;
    }
    for (int i = 1; i < end; ++i) {
        const PageRange& r = ranges.At(i);
        if (r.first > r.last) {
            prompter.Show(Format("%d is greater than %d", r.first, r.last), caption);
            return false;
        }
        if (r.first < 1 || r.last < 1) {
            prompter.Show("error in parameters can't start or end at Zero", caption);
            return false;
        }
        if (r.first > fields.pages || r.last > fields.pages) {
            prompter.Show(Format("parameter: %d higher than pages: %d", r.last, fields.pages),
                          caption);
            return false;
        }
    }
    if (end == 1) {
        prompter.Show("no valid parameters", caption);
        return false;
    }
    return true;
}

} // namespace core
