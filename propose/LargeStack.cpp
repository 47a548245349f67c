#include "propose/LargeStack.h"

#include <exception>
#include <pthread.h>

namespace propose {

namespace {

struct Job {
    const std::function<void()>& work;
    std::exception_ptr error;
};

void* RunJob(void* data) {
    auto* job = static_cast<Job*>(data);
    try {
        job->work();
    } catch (...) {
        job->error = std::current_exception(); // raised again on the caller's thread
    }
    return nullptr;
}

} // namespace

void RunOnLargeStack(const std::function<void()>& work, size_t bytes) {
    Job job{work, nullptr};
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = false;
    if (pthread_attr_init(&attributes) == 0) {
        started = pthread_attr_setstacksize(&attributes, bytes) == 0 &&
                  pthread_create(&thread, &attributes, RunJob, &job) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (!started) {
        work();
        return;
    }
    pthread_join(thread, nullptr);
    if (job.error)
        std::rethrow_exception(job.error);
}

} // namespace propose
