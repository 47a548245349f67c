#pragma once

#include <string_view>

namespace core {

// The debug trace as the rest of the program sees it: lines are written only while it is on,
// and callers that must ask something expensive for a line check IsOn() first.
class Trace {
  public:
    virtual ~Trace();
    virtual bool IsOn() const = 0;
    virtual void Line(std::string_view text) = 0;
};

class NullTrace final : public Trace {
  public:
    bool IsOn() const override { return false; }
    void Line(std::string_view) override {}
};

} // namespace core
