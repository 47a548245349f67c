#pragma once

#include <cstddef>
#include <functional>

namespace propose {

// Runs `work` to its end on a thread of its own with a stack of `bytes` (reserved, touched
// only as deep as the work goes), or on the calling thread when no such thread can be made.
// The standard library's regular expressions recurse once per character a repetition takes;
// a page of text under ".*" would run a normal stack out.
void RunOnLargeStack(const std::function<void()>& work, size_t bytes);

} // namespace propose
