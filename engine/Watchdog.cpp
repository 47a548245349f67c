#include "engine/Watchdog.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace engine {

WindowSystem::~WindowSystem() = default;

CMyThread::CMyThread(WindowSystem& windows, Sleeper sleeper)
    : m_windows(windows), m_sleeper(std::move(sleeper)) {}

CMyThread::~CMyThread() {
    Stop();
}

void CMyThread::Start() {
    if (m_thread.joinable())
        return;
    // Cleared here, before the thread exists, not when its loop begins: a Stop that comes before
    // the loop's first pass must not be lost, or Stop would wait for ever.
    m_exit = false;
    m_result = 0;
    m_thread = std::thread([this] {
        // Below normal: the watchdog must never compete with the work it watches over.
        const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
        ::setpriority(PRIO_PROCESS, tid, ::getpriority(PRIO_PROCESS, tid) + 5);
        m_result = Run();
    });
}

void CMyThread::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_exit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

int CMyThread::Run() {
    if (!m_owner.load())
        return -1;
    while (!m_exit)
        Pass();
    return 1;
}

void CMyThread::Pass() {
    m_windows.DrainQueue();

    const WindowSystem::Handle busy = m_windows.FindTopLevel("Server Busy");
    if (busy && m_windows.IsWindow(busy)) {
        if (const WindowSystem::Handle button = m_windows.ChildById(busy, 600))
            m_windows.SendCommand(busy, 600, 0, button);
    }

    const WindowSystem::Handle box = m_windows.FindTopLevel("Adobe Acrobat");
    if (box && m_windows.IsWindow(box)) {
        std::string text;
        for (const WindowSystem::Child& child : m_windows.Children(box)) {
            if (child.id == kUnnumberedStatic) {
                text = child.text;
                break;
            }
        }
        if (text.find("Web Capture") != std::string::npos) {
            if (const WindowSystem::Handle cancel = m_windows.ChildById(box, 2))
                m_windows.PostCommand(box, 2, 0, cancel);
        }
    }

    Sleep(kPeriod);
    m_windows.DrainQueue();
}

void CMyThread::Sleep(std::chrono::milliseconds period) {
    if (m_sleeper) {
        m_sleeper(period);
        return;
    }
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, period, [this] { return m_exit.load(); });
}

} // namespace engine
