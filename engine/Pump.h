#pragma once

namespace engine {

// Lets the window handle at most one pending event between two steps of long work, so that it
// stays usable (and a second press can ask the work to stop).
//
// Thread rule: called only on the window's thread. Whatever the event runs (edits of the job
// list, another press, closing the window) runs inside PumpOnce, so callers read the list again
// after every pump rather than trust a row index they held before it.
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
