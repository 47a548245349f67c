#include "engine/Watchdog.h"

#include <gtest/gtest.h>
#include <map>

using namespace engine;

namespace {

class FakeWindows final : public WindowSystem {
  public:
    struct Window {
        std::vector<Child> children;
    };
    std::map<std::string, Handle> topLevel;
    std::map<Handle, Window> windows;
    std::vector<std::string> events;

    Handle FindTopLevel(const std::string& title) override {
        auto it = topLevel.find(title);
        return it == topLevel.end() ? 0 : it->second;
    }
    bool IsWindow(Handle w) override { return windows.count(w) > 0; }
    Handle ChildById(Handle w, int id) override {
        for (const Child& c : windows[w].children)
            if (c.id == id)
                return c.handle;
        return 0;
    }
    std::vector<Child> Children(Handle w) override { return windows[w].children; }
    void SendCommand(Handle w, int id, int n, Handle s) override {
        events.push_back("send " + std::to_string(w) + " " + std::to_string(id) + " " +
                         std::to_string(n) + " " + std::to_string(s));
    }
    void PostCommand(Handle w, int id, int n, Handle s) override {
        events.push_back("post " + std::to_string(w) + " " + std::to_string(id) + " " +
                         std::to_string(n) + " " + std::to_string(s));
    }
    void DrainQueue() override { events.push_back("drain"); }
};

struct Watch {
    FakeWindows windows;
    CMyThread thread{windows, [this](std::chrono::milliseconds ms) {
                         windows.events.push_back("sleep " + std::to_string(ms.count()));
                     }};
};

} // namespace

TEST(WatchdogTest, PassPressesBusyThenCancelsWebCaptureThenSleeps) {
    const struct {
        const char* name;
        std::function<void(FakeWindows&)> setup;
        std::vector<std::string> events;
    } cases[] = {
        {"nothing", [](FakeWindows&) {}, {"drain", "sleep 250", "drain"}},
        {"busy",
         [](FakeWindows& w) {
             w.topLevel["Server Busy"] = 10;
             w.windows[10] = {{{11, 600, "Switch To..."}}};
         },
         {"drain", "send 10 600 0 11", "sleep 250", "drain"}},
        {"both",
         [](FakeWindows& w) {
             w.topLevel["Server Busy"] = 10;
             w.windows[10] = {{{11, 600, ""}}};
             w.topLevel["Adobe Acrobat"] = 20;
             w.windows[20] = {{{21, 2, "Cancel"}, {22, 0xFFFF, "Web Capture is busy"}}};
         },
         {"drain", "send 10 600 0 11", "post 20 2 0 21", "sleep 250", "drain"}},
        {"other box",
         [](FakeWindows& w) {
             w.topLevel["Adobe Acrobat"] = 20;
             w.windows[20] = {
                 {{21, 2, "Cancel"}, {22, 0xFFFF, "Save changes?"}, {23, 0xFFFF, "Web Capture"}}};
         },
         {"drain", "sleep 250", "drain"}},
        {"no static",
         [](FakeWindows& w) {
             w.topLevel["Adobe Acrobat"] = 20;
             w.windows[20] = {{{21, 2, "Web Capture"}}};
         },
         {"drain", "sleep 250", "drain"}},
        {"no buttons",
         [](FakeWindows& w) {
             w.topLevel["Server Busy"] = 10;
             w.windows[10] = {};
             w.topLevel["Adobe Acrobat"] = 20;
             w.windows[20] = {{{22, 0xFFFF, "Web Capture"}}};
         },
         {"drain", "sleep 250", "drain"}},
        {"stale handle",
         [](FakeWindows& w) { w.topLevel["Server Busy"] = 99; },
         {"drain", "sleep 250", "drain"}},
    };
    for (const auto& c : cases) {
        Watch w;
        c.setup(w.windows);
        w.thread.Pass();
        EXPECT_EQ(w.windows.events, c.events) << c.name;
    }
}

TEST(WatchdogTest, WithoutOwnerTheLoopEndsAtOnce) {
    Watch w;
    EXPECT_EQ(w.thread.Run(), -1);
    EXPECT_TRUE(w.windows.events.empty());
}

TEST(WatchdogTest, StartsAndStopsPromptly) {
    CNoWindowSystem none;
    CMyThread thread(none);
    int owner = 0;
    thread.SetOwner(&owner);
    thread.Start();
    const auto before = std::chrono::steady_clock::now();
    thread.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}
