#pragma once

#include <ctime>

namespace core {

class Clock {
  public:
    virtual ~Clock();
    virtual std::tm LocalNow() = 0;
};

class CSystemClock final : public Clock {
  public:
    std::tm LocalNow() override;
};

} // namespace core
