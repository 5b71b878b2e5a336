#include "audio/pulse/PulseDeviceList.h"

namespace quillet {

namespace {

struct ServerQuery {
    PulseConnection* connection;
    std::string defaultSource;
    std::string defaultSink;
};

void onServerInfo(pa_context*, const pa_server_info* i, void* userdata)
{
    auto* q = static_cast<ServerQuery*>(userdata);
    if (i) {
        q->defaultSource = i->default_source_name ? i->default_source_name : "";
        q->defaultSink = i->default_sink_name ? i->default_sink_name : "";
    }
    q->connection->signal();
}

struct SourceQuery {
    PulseConnection* connection;
    AudioSystemInfo* info;
};

void onSourceInfo(pa_context*, const pa_source_info* i, int eol, void* userdata)
{
    auto* q = static_cast<SourceQuery*>(userdata);
    if (eol == 0 && i && i->name) {
        CaptureDeviceInfo d;
        d.name = i->name;
        d.description = i->description ? i->description : "";
        d.isMonitor = i->monitor_of_sink != PA_INVALID_INDEX;
        q->info->sources.push_back(d);
    }
    if (eol != 0)
        q->connection->signal();
}

struct SinkQuery {
    PulseConnection* connection;
    PulseSinkMonitor monitor;
    bool found = false;
};

void onSinkInfo(pa_context*, const pa_sink_info* i, int eol, void* userdata)
{
    auto* q = static_cast<SinkQuery*>(userdata);
    if (eol == 0 && i) {
        q->found = true;
        q->monitor.monitorSource = i->monitor_source_name ? i->monitor_source_name : "";
        q->monitor.sampleRate = i->sample_spec.rate;
        q->monitor.channels = i->sample_spec.channels;
    }
    if (eol != 0)
        q->connection->signal();
}

int askServer(PulseConnection& connection, ServerQuery& server, std::string& error)
{
    server.connection = &connection;
    if (!connection.finishLocked(pa_context_get_server_info(connection.context(), &onServerInfo, &server))) {
        error = "the sound server did not describe itself: " + connection.serverError();
        return 0;
    }
    return 1;
}

int askSink(PulseConnection& connection, const std::string& sink, SinkQuery& query, std::string& error)
{
    query.connection = &connection;
    if (!connection.finishLocked(
            pa_context_get_sink_info_by_name(connection.context(), sink.c_str(), &onSinkInfo, &query))) {
        error = "the default output \"" + sink + "\" did not answer: " + connection.serverError();
        return 0;
    }
    return 1;
}

} // namespace

int queryPulseAudioSystem(PulseConnection& connection, AudioSystemInfo& info, std::string& error)
{
    info = AudioSystemInfo();
    PulseLock lock(connection);
    ServerQuery server{};
    if (!askServer(connection, server, error))
        return 0;
    info.defaultSource = server.defaultSource;

    SourceQuery sources{&connection, &info};
    if (!connection.finishLocked(pa_context_get_source_info_list(connection.context(), &onSourceInfo, &sources))) {
        error = "the sound server did not list its sources: " + connection.serverError();
        return 0;
    }
    if (!server.defaultSink.empty()) {
        SinkQuery sink{};
        if (askSink(connection, server.defaultSink, sink, error) && sink.found)
            info.defaultSinkMonitor = sink.monitor.monitorSource;
        error.clear(); // a default output without a monitor only means no computer sound
    }
    return 1;
}

int queryDefaultSinkMonitor(PulseConnection& connection, PulseSinkMonitor& monitor, std::string& error)
{
    PulseLock lock(connection);
    ServerQuery server{};
    if (!askServer(connection, server, error))
        return 0;
    if (server.defaultSink.empty()) {
        error = "there is no default sound output";
        return 0;
    }
    SinkQuery sink{};
    if (!askSink(connection, server.defaultSink, sink, error))
        return 0;
    if (!sink.found || sink.monitor.monitorSource.empty()) {
        error = "the default output \"" + server.defaultSink + "\" has no monitor to record from";
        return 0;
    }
    monitor = sink.monitor;
    return 1;
}

} // namespace quillet
