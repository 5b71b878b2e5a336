#pragma once
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace quillet {

// Resolves one host name on a short worker thread, so the UI thread never
// waits for the name service. The answer comes back on the UI thread through
// a pipe; nothing else is shared, and the worker touches no window.
class HostResolver {
public:
    // address: the first IPv4 address of the answer (else its first address)
    // in numeric form; empty when the name did not resolve.
    using Done = std::function<void(const std::string& address)>;

    HostResolver();
    // Abandons a lookup still running: the worker finishes on its own (a name
    // lookup cannot be interrupted) and its answer is dropped.
    ~HostResolver();
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    // Starts the lookup; 0 when no worker could be started (done is not called).
    int resolve(const std::string& host, Done done);
    bool running() const { return notifier_ != nullptr; }
    // Drops a running lookup's answer (done is not called).
    void cancel();

    // The worker's own step, exposed for tests: the lookup itself.
    static std::string lookup(const std::string& host);

private:
    struct Shared;
    void answered();

    std::shared_ptr<Shared> shared_;
    std::unique_ptr<QSocketNotifier> notifier_;
    Done done_;
};

} // namespace quillet
