#include "engine/Watchdog.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

using namespace engine;

namespace {

// A window system whose windows remember what was done to them. It may be called from the
// watchdog's thread while the test reads it, so everything goes through one lock.
class FakeWindows final : public WindowSystem {
  public:
    struct Command {
        Handle window;
        int id;
        int notification;
        Handle sender;
        bool posted; // false: sent and waited for
        bool operator==(const Command&) const = default;
    };

    void AddWindow(const std::string& title, Handle handle, std::vector<Child> children) {
        std::lock_guard lock(m_mutex);
        m_topLevel[title] = handle;
        m_windows[handle] = std::move(children);
    }
    void AddStaleTitle(const std::string& title, Handle handle) {
        std::lock_guard lock(m_mutex);
        m_topLevel[title] = handle;
    }
    void Queue(int messages) {
        std::lock_guard lock(m_mutex);
        m_queued += messages;
    }
    std::vector<Command> Commands() {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    int Queued() {
        std::lock_guard lock(m_mutex);
        return m_queued;
    }
    // Waits (without a clock) until some thread has pressed at least `n` buttons.
    void WaitForCommands(size_t n) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_commands.size() >= n; });
    }
    std::thread::id pressedOn;

    Handle FindTopLevel(const std::string& title) override {
        std::lock_guard lock(m_mutex);
        auto it = m_topLevel.find(title);
        return it == m_topLevel.end() ? 0 : it->second;
    }
    bool IsWindow(Handle w) override {
        std::lock_guard lock(m_mutex);
        return m_windows.count(w) > 0;
    }
    Handle ChildById(Handle w, int id) override {
        std::lock_guard lock(m_mutex);
        for (const Child& c : m_windows[w])
            if (c.id == id)
                return c.handle;
        return 0;
    }
    std::vector<Child> Children(Handle w) override {
        std::lock_guard lock(m_mutex);
        return m_windows[w];
    }
    void SendCommand(Handle w, int id, int n, Handle s) override { Record({w, id, n, s, false}); }
    void PostCommand(Handle w, int id, int n, Handle s) override { Record({w, id, n, s, true}); }
    void DrainQueue() override {
        std::lock_guard lock(m_mutex);
        m_queued = 0;
    }

  private:
    void Record(const Command& c) {
        {
            std::lock_guard lock(m_mutex);
            m_commands.push_back(c);
            pressedOn = std::this_thread::get_id();
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, Handle> m_topLevel;
    std::map<Handle, std::vector<Child>> m_windows;
    std::vector<Command> m_commands;
    int m_queued = 0;
};

using Command = FakeWindows::Command;

} // namespace

TEST(WatchdogTest, APassPressesTheBlockingPromptsAndLeavesOthersAlone) {
    const struct {
        const char* name;
        std::function<void(FakeWindows&)> setup;
        std::vector<Command> pressed; // in the order pressed
    } cases[] = {
        {"nothing", [](FakeWindows&) {}, {}},
        {"busy",
         [](FakeWindows& w) {
             w.AddWindow("Server Busy", 10, {{11, 600, "Switch To..."}});
         },
         {{10, 600, 0, 11, false}}},
        {"both: the busy dialog first",
         [](FakeWindows& w) {
             w.AddWindow("Server Busy", 10, {{11, 600, ""}});
             w.AddWindow("Adobe Acrobat", 20,
                         {{21, 2, "Cancel"}, {22, 0xFFFF, "Web Capture is busy"}});
         },
         {{10, 600, 0, 11, false}, {20, 2, 0, 21, true}}},
        {"other box: only the first unnumbered text counts",
         [](FakeWindows& w) {
             w.AddWindow(
                 "Adobe Acrobat", 20,
                 {{21, 2, "Cancel"}, {22, 0xFFFF, "Save changes?"}, {23, 0xFFFF, "Web Capture"}});
         },
         {}},
        {"web capture only in a numbered control",
         [](FakeWindows& w) {
             w.AddWindow("Adobe Acrobat", 20, {{21, 2, "Web Capture"}});
         },
         {}},
        {"lower case is another text",
         [](FakeWindows& w) {
             w.AddWindow("Adobe Acrobat", 20, {{21, 2, "Cancel"}, {22, 0xFFFF, "web capture"}});
         },
         {}},
        {"no buttons to press",
         [](FakeWindows& w) {
             w.AddWindow("Server Busy", 10, {});
             w.AddWindow("Adobe Acrobat", 20, {{22, 0xFFFF, "Web Capture"}});
         },
         {}},
        {"stale handle", [](FakeWindows& w) { w.AddStaleTitle("Server Busy", 99); }, {}},
    };
    for (const auto& c : cases) {
        FakeWindows windows;
        std::vector<std::chrono::milliseconds> waits;
        CMyThread thread(windows, [&](std::chrono::milliseconds ms) {
            waits.push_back(ms);
            windows.Queue(2); // messages that arrive while the pass waits
        });
        c.setup(windows);
        windows.Queue(3);
        thread.Pass();
        EXPECT_EQ(windows.Commands(), c.pressed) << c.name;
        EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>{CMyThread::kPeriod}) << c.name;
        EXPECT_EQ(windows.Queued(), 0) << c.name << ": messages left waiting in the queue";
    }
    EXPECT_EQ(CMyThread::kPeriod, std::chrono::milliseconds(250));
}

TEST(WatchdogTest, WithoutOwnerTheLoopEndsAtOnceAndNeverScans) {
    FakeWindows windows;
    windows.AddWindow("Server Busy", 10, {{11, 600, ""}});
    CMyThread direct(windows);
    EXPECT_EQ(direct.Run(), -1);

    CMyThread started(windows);
    started.Start();
    started.Stop();
    EXPECT_EQ(started.Result(), -1);
    EXPECT_TRUE(windows.Commands().empty());
}

TEST(WatchdogTest, OnItsOwnThreadItPressesPromptsUntilStopped) {
    FakeWindows windows;
    windows.AddWindow("Server Busy", 10, {{11, 600, ""}});
    CMyThread thread(windows);
    int owner = 0;
    thread.SetOwner(&owner);
    thread.Start();
    windows.WaitForCommands(1);
    thread.Stop(); // wakes the loop from its wait; a hang here fails the test by its time-out
    EXPECT_EQ(thread.Result(), 1);
    EXPECT_NE(windows.pressedOn, std::this_thread::get_id());
    EXPECT_EQ(windows.Commands().front(), (Command{10, 600, 0, 11, false}));

    // Stopping at once after a start is not lost, and the object can be started again.
    thread.Start();
    thread.Stop();
    EXPECT_EQ(thread.Result(), 1);
}

TEST(WatchdogTest, AnOwnerSetWhileTheLoopBeginsIsNoDataRace) {
    // Whether the loop sees the owner is a matter of timing, and either end is allowed; what
    // must hold (and ThreadSanitizer checks) is that the owner is handed over atomically.
    FakeWindows windows;
    CMyThread thread(windows, [](std::chrono::milliseconds) { std::this_thread::yield(); });
    int owner = 0;
    thread.Start();
    thread.SetOwner(&owner);
    thread.Stop();
    EXPECT_TRUE(thread.Result() == -1 || thread.Result() == 1) << thread.Result();
}
