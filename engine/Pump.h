#pragma once

namespace engine {

// Lets the window handle at most one pending event between two steps of long work, so that it
// stays usable (and a second press can ask the work to stop).
class Pump {
  public:
    virtual ~Pump();
    virtual void PumpOnce() = 0;
};

class CNoPump final : public Pump {
  public:
    void PumpOnce() override {}
};

// The modeless "Acrobat Connection" notice shown while the application object is created.
class ConnectionDialog {
  public:
    virtual ~ConnectionDialog();
    virtual void Show() = 0;
    virtual void Hide() = 0;
};

class CNoConnectionDialog final : public ConnectionDialog {
  public:
    void Show() override {}
    void Hide() override {}
};

} // namespace engine
