#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace engine {

// What the prompt watchdog needs of the window system. Handles are opaque; 0 is none.
// Thread rule: the watchdog calls every operation on its own thread, never on the window's, so
// an implementation must be callable from there (the window system's own messages are the only
// way it reaches other windows).
class WindowSystem {
  public:
    using Handle = uint64_t;
    struct Child {
        Handle handle;
        int id;
        std::string text;
    };

    virtual ~WindowSystem();
    virtual Handle FindTopLevel(const std::string& title) = 0;
    virtual bool IsWindow(Handle window) = 0;
    virtual Handle ChildById(Handle window, int id) = 0;
    virtual std::vector<Child> Children(Handle window) = 0;
    // A command as a click of control `sender` would send it: synchronously or posted.
    virtual void SendCommand(Handle window, int id, int notification, Handle sender) = 0;
    virtual void PostCommand(Handle window, int id, int notification, Handle sender) = 0;
    // Dispatches whatever waits in the calling thread's own queue.
    virtual void DrainQueue() = 0;
};

// This platform shows no such prompts: nothing is ever found.
class CNoWindowSystem final : public WindowSystem {
  public:
    Handle FindTopLevel(const std::string&) override { return 0; }
    bool IsWindow(Handle) override { return false; }
    Handle ChildById(Handle, int) override { return 0; }
    std::vector<Child> Children(Handle) override { return {}; }
    void SendCommand(Handle, int, int, Handle) override {}
    void PostCommand(Handle, int, int, Handle) override {}
    void DrainQueue() override {}
};

// Presses the buttons of the blocking prompts that would hold up an unattended run: the
// "Server Busy" dialog and the PDF application's "Web Capture" boxes, every quarter second.
//
// Thread rules:
// - SetOwner, Start and Stop belong to the thread that made the object (the window's). Set the
//   owner before Start: a loop that begins without one ends at once with -1. The loop reads the
//   owner atomically, so a late SetOwner is no data race, only too late.
// - Run, Pass and the sleeper run on the watchdog's own thread once Start is called; they share
//   nothing with the window's thread but the exit flag and the owner, both atomic.
// - Result is the loop's result once Stop has returned.
class CMyThread {
  public:
    static constexpr std::chrono::milliseconds kPeriod{250};
    static constexpr int kUnnumberedStatic = 0xFFFF;

    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    // Without a sleeper, passes wait on the thread's own clock and wake at once for Stop().
    explicit CMyThread(WindowSystem& windows, Sleeper sleeper = {});
    ~CMyThread();
    CMyThread(const CMyThread&) = delete;
    CMyThread& operator=(const CMyThread&) = delete;

    void SetOwner(const void* owner) { m_owner.store(owner); }
    // Starts the loop on its own thread at below-normal priority.
    void Start();
    // Asks the loop to end after its current pass and waits for it.
    void Stop();
    // What the loop returned (-1 without an owner, 1 after Stop); 0 while it has not ended.
    int Result() const { return m_result.load(); }

    // The loop itself: -1 at once without an owner, else passes until asked to stop, then 1.
    int Run();
    // One pass: drain, press "Server Busy", cancel a "Web Capture" box, sleep, drain.
    void Pass();

  private:
    void Sleep(std::chrono::milliseconds period);

    WindowSystem& m_windows;
    Sleeper m_sleeper;
    std::atomic<const void*> m_owner{nullptr};
    std::atomic<bool> m_exit{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    std::atomic<int> m_result{0};
};

} // namespace engine
