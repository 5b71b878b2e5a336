#include "audio/pulse/PulseConnection.h"

namespace quillet {

namespace {

struct Deadline {
    pa_threaded_mainloop* loop;
    bool passed = false;
};

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    auto* d = static_cast<Deadline*>(userdata);
    d->passed = true;
    pa_threaded_mainloop_signal(d->loop, 0);
}

} // namespace

PulseConnection::~PulseConnection() { close(); }

void PulseConnection::onContextState(pa_context*, void* self)
{
    static_cast<PulseConnection*>(self)->signal();
}

int PulseConnection::connect(const char* clientName, int timeoutMs)
{
    close();
    error_.clear();
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        error_ = "cannot create the sound event loop";
        return 0;
    }
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, clientName);
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), clientName, props);
    pa_proplist_free(props);
    if (!context_) {
        error_ = "cannot create a sound server context";
        close();
        return 0;
    }
    pa_context_set_state_callback(context_, &PulseConnection::onContextState, this);
    // NOAUTOSPAWN: a recorder must not start a sound server of its own.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error_ = std::string("cannot connect to the sound server: ") + pa_strerror(pa_context_errno(context_));
        close();
        return 0;
    }
    if (pa_threaded_mainloop_start(loop_) < 0) {
        error_ = "cannot start the sound event thread";
        close();
        return 0;
    }
    int ok = 0;
    {
        PulseLock lock(*this);
        ok = waitLocked([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, timeoutMs);
        if (!ok)
            error_ = std::string("cannot connect to the sound server: ") + serverError();
    }
    if (!ok) {
        close();
        return 0;
    }
    return 1;
}

void PulseConnection::close()
{
    if (!loop_)
        return;
    if (context_) {
        pa_threaded_mainloop_lock(loop_);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
        pa_threaded_mainloop_unlock(loop_);
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

bool PulseConnection::contextReady() const
{
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

int PulseConnection::waitLocked(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return 1;
    Deadline deadline{loop_};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(timeoutMs < 0 ? 0 : timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event* timer = api->time_new(api, &when, &onDeadline, &deadline);
    int result = 0;
    for (;;) {
        if (done()) {
            result = 1;
            break;
        }
        const pa_context_state_t s = pa_context_get_state(context_);
        if (s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED || deadline.passed)
            break;
        pa_threaded_mainloop_wait(loop_);
    }
    if (timer)
        api->time_free(timer);
    return result;
}

int PulseConnection::finishLocked(pa_operation* op, int timeoutMs)
{
    if (!op)
        return 0;
    const int ok = waitLocked([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeoutMs);
    const bool completed = ok && pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (!ok)
        pa_operation_cancel(op);
    pa_operation_unref(op);
    return completed ? 1 : 0;
}

std::string PulseConnection::serverError() const
{
    if (!context_)
        return "no connection";
    const pa_context_state_t s = pa_context_get_state(context_);
    const int err = pa_context_errno(context_);
    if (err != 0)
        return pa_strerror(err);
    if (s == PA_CONTEXT_READY)
        return "no answer in time";
    return "connection not ready";
}

} // namespace quillet
