#include "outputs/HttpFeed.h"

#include "outputs/HttpLibrary.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <charconv>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "text/TextCodec.h"
#include "outputs/FeedAddress.h"
#include "outputs/FeedStore.h"
#include "outputs/LivePage.h"
#include "outputs/LiveWeightBoard.h"
#include "outputs/ReadingFields.h"
#include "outputs/ReadingJson.h"
#include "weighing/WeightText.h"

namespace tarvex {
namespace {

// The headers the library adds to a request itself.
bool AddedByLibrary(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

size_t HeaderBytes(const httplib::Request& request) {
    size_t bytes = request.method.size() + request.target.size() + request.version.size() + 4;
    for (const auto& [name, value] : request.headers)
        if (!AddedByLibrary(name)) bytes += name.size() + value.size() + 4;
    return bytes;
}

bool SameText(std::string_view a, std::string_view b) {
    // Every byte is looked at, wherever the first difference is.
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return differ == 0;
}

// A name for this computer in the Host header: what a page of another
// site, whose name was pointed at this computer, cannot send.
bool LoopbackHost(std::string host) {
    if (host.starts_with('[')) {
        const size_t close = host.find(']');
        host = close == std::string::npos ? std::string() : host.substr(1, close - 1);
    } else if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
        host.resize(colon);
    }
    return IsLoopbackHost(host);
}

bool ParseSeq(const std::string& text, uint64_t& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

void JsonError(httplib::Response& response, int status, const char* message) {
    response.status = status;
    response.set_content(nlohmann::json{{"error", message}}.dump(), "application/json; charset=utf-8");
}

const char* LinkName(LinkState state) {
    switch (state) {
        case LinkState::Connected: return "connected";
        case LinkState::Connecting: return "connecting";
        case LinkState::Waiting: return "waiting";
        default: return "closed";
    }
}

std::string StatusJson(const DeskState& state) {
    nlohmann::ordered_json json;
    json["desk"] = state.desk;
    json["link"] = LinkName(state.link);
    json["port"] = Utf8FromWide(state.port);
    json["unit"] = Utf8FromWide(UnitName(state.unit));
    json["readings"] = state.readings;
    json["last_seq"] = state.lastSeq;
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Runs the clients below the acknowledge: the serial line's threads and the
// window's thread come first when the cores are busy.
void LowerThisThread() {
#ifdef _WIN32
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#else
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
}

// The library's thread pool, one thread for each client allowed, counting
// the connections it serves: while all are taken, the library answers a new
// one 503 at once and closes it, never queueing it.
class CountedPool : public httplib::TaskQueue {
public:
    CountedPool() : m_pool(FEED_MOST_CLIENTS) {}
    void enqueue(std::function<void()> serve) override {
        ++m_serving;
        m_pool.enqueue([this, serve = std::move(serve)] {
            thread_local const bool lowered = (LowerThisThread(), true);
            (void)lowered;
            serve();
            --m_serving;
        });
    }
    bool has_room() const override { return m_serving < FEED_MOST_CLIENTS; }
    void shutdown() override { m_pool.shutdown(); }

private:
    httplib::ThreadPool m_pool;
    std::atomic<int> m_serving{0};
};

// Lets the process open as many descriptors as the system allows it: a
// flood of connections turned away must not leave the journal, the CSV
// file or a reconnect without one.
void RaiseDescriptorLimit() {
#ifndef _WIN32
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
}

// The library's server: HTTPS where a certificate is given and the build
// can serve it.
std::unique_ptr<httplib::Server> MakeServer([[maybe_unused]] const HttpFeedSettings& settings) {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    if (!settings.certificateFile.empty() || !settings.keyFile.empty()) {
        auto server = std::make_unique<httplib::SSLServer>(settings.certificateFile.c_str(), settings.keyFile.c_str());
        if (SSL_CTX* context = server->ssl_context()) {
            SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
            // A key that is not the certificate's would fail every client.
            if (SSL_CTX_check_private_key(context) != 1) return nullptr;
        }
        return server;
    }
#endif
    return std::make_unique<httplib::Server>();
}

}  // namespace

bool FeedCanServeTls() {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    return true;
#else
    return false;
#endif
}

struct CHttpFeed::Server {
    explicit Server(HttpFeedSettings given)
        : settings(std::move(given)), made(MakeServer(settings)), http(made ? *made : unusable) {}

    HttpFeedSettings settings;
    std::unique_ptr<httplib::Server> made;
    httplib::Server unusable;  // stands in, never listening, where none could be made
    httplib::Server& http;
    CFeedStore store;
    CLiveWeightBoard live;
    std::mutex pageLock;  // and the state
    std::string pageTexts = "{}";
    DeskState state;
    std::thread thread;
    int port = 0;

    void Routes();
    httplib::Server::HandlerResponse Guard(const httplib::Request& request, httplib::Response& response);
    void Stream(const httplib::Request& request, httplib::Response& response);
    void StreamLive(httplib::Response& response);
};

httplib::Server::HandlerResponse CHttpFeed::Server::Guard(const httplib::Request& request, httplib::Response& response) {
    using Handled = httplib::Server::HandlerResponse;
    if (HeaderBytes(request) > FEED_MOST_HEADER_BYTES) {
        response.set_header("Connection", "close");
        JsonError(response, 413, "request header too large");
        return Handled::Handled;
    }
    if (settings.loopback && !LoopbackHost(request.get_header_value("Host"))) {
        JsonError(response, 403, "this feed answers only requests for this computer");
        return Handled::Handled;
    }
    const std::string origin = request.get_header_value("Origin");
    const bool originAllowed = !origin.empty() && std::find(settings.allowedOrigins.begin(),
                                                            settings.allowedOrigins.end(),
                                                            origin) != settings.allowedOrigins.end();
    if (originAllowed) {
        response.set_header("Access-Control-Allow-Origin", origin);
        response.set_header("Vary", "Origin");
    }
    if (request.method == "OPTIONS") {
        // A browser's question before a request of another origin.
        if (!originAllowed) {
            JsonError(response, 403, "origin not allowed");
            return Handled::Handled;
        }
        response.status = 204;
        response.set_header("Access-Control-Allow-Methods", "GET");
        response.set_header("Access-Control-Allow-Headers", "Authorization, Last-Event-ID");
        response.set_header("Access-Control-Allow-Private-Network", "true");
        response.set_header("Access-Control-Max-Age", "600");
        return Handled::Handled;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        response.set_header("Allow", "GET");
        JsonError(response, 405, "only GET");
        return Handled::Handled;
    }
    if (!settings.token.empty() &&
        !SameText(request.get_header_value("Authorization"), "Bearer " + settings.token)) {
        response.set_header("WWW-Authenticate", "Bearer");
        JsonError(response, 401, "a valid bearer token is needed");
        return Handled::Handled;
    }
    return Handled::Unhandled;
}

void CHttpFeed::Server::Stream(const httplib::Request& request, httplib::Response& response) {
    uint64_t after = store.LastSeq();  // without a place to go on from: new readings
    const std::string lastId = request.get_header_value("Last-Event-ID");
    const std::string param = request.get_param_value("after");
    if (!lastId.empty() || request.has_param("after")) {
        if (!ParseSeq(lastId.empty() ? param : lastId, after)) {
            JsonError(response, 400, "after and Last-Event-ID take a seq");
            return;
        }
    }
    response.set_header("Cache-Control", "no-cache");
    auto cursor = std::make_shared<uint64_t>(after);
    auto greeted = std::make_shared<bool>(false);
    const auto quiet = std::chrono::seconds(settings.keepAliveSeconds);
    response.set_chunked_content_provider(
        "text/event-stream; charset=utf-8", [this, cursor, greeted, quiet](size_t, httplib::DataSink& sink) {
            if (!*greeted) {
                *greeted = true;
                // Reconnect after a second; the comment opens the stream at once.
                static const std::string HELLO = "retry: 1000\n: tarvex-scale\n\n";
                return sink.write(HELLO.data(), HELLO.size());
            }
            // The desk's count began again (no journal): from its start.
            if (store.LastSeq() < *cursor) *cursor = 0;
            const std::vector<FeedEntry> entries = store.After(*cursor, 512);
            if (entries.empty()) {
                // A second at a time, so that a client gone is noticed and
                // its place freed within about a second.
                const auto quietUntil = std::chrono::steady_clock::now() + quiet;
                while (std::chrono::steady_clock::now() < quietUntil) {
                    if (store.WaitAfter(*cursor, std::chrono::seconds(1))) return true;
                    if (store.Stopped() || !sink.is_writable()) return false;
                }
                static const std::string KEEP_OPEN = ": keep-alive\n\n";
                return sink.write(KEEP_OPEN.data(), KEEP_OPEN.size());
            }
            std::string events;
            for (const FeedEntry& entry : entries) events += entry.Event();
            *cursor = entries.back().seq;
            return sink.write(events.data(), events.size());
        });
}

void CHttpFeed::Server::StreamLive(httplib::Response& response) {
    response.set_header("Cache-Control", "no-cache");
    auto seen = std::make_shared<std::optional<uint64_t>>();  // the change last sent
    const auto quiet = std::chrono::seconds(settings.keepAliveSeconds);
    response.set_chunked_content_provider(
        "text/event-stream; charset=utf-8", [this, seen, quiet](size_t, httplib::DataSink& sink) {
            if (seen->has_value()) {
                // At most ten a second: what changes meanwhile waits, and only its newest goes.
                std::this_thread::sleep_for(std::chrono::milliseconds(1000 / FEED_LIVE_WEIGHTS_PER_SECOND));
                const auto quietUntil = std::chrono::steady_clock::now() + quiet;
                bool changed = false;
                while (!changed && std::chrono::steady_clock::now() < quietUntil) {
                    changed = live.WaitPast(**seen, std::chrono::seconds(1));
                    if (!changed && (store.Stopped() || !sink.is_writable())) return false;
                }
                if (!changed) {
                    static const std::string KEEP_OPEN = ": keep-alive\n\n";
                    return sink.write(KEEP_OPEN.data(), KEEP_OPEN.size());
                }
            }
            uint64_t version = 0;
            const std::optional<std::string> json = live.Newest(&version);
            *seen = version;
            // The newest at once, so a client knows where the scale stands.
            const std::string event = json ? "event: weight\ndata: " + *json + "\n\n" : "retry: 1000\n: tarvex-scale\n\n";
            return sink.write(event.data(), event.size());
        });
}

void CHttpFeed::Server::Routes() {
    http.set_pre_routing_handler([this](const httplib::Request& q, httplib::Response& r) { return Guard(q, r); });
    // Readings are never guessed into another type nor kept by a cache on the way.
    http.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
        response.set_header("X-Content-Type-Options", "nosniff");
        if (!response.has_header("Cache-Control")) response.set_header("Cache-Control", "no-store");
    });
    http.Get("/", [this](const httplib::Request&, httplib::Response& response) {
        std::string texts;
        {
            std::lock_guard<std::mutex> guard(pageLock);
            texts = pageTexts;
        }
        LivePageAnswer page = LivePage(texts);
        response.set_header("Content-Security-Policy", page.securityPolicy);
        response.set_content(std::move(page.html), "text/html; charset=utf-8");
    });
    http.Get("/readings/latest", [this](const httplib::Request&, httplib::Response& response) {
        const std::optional<FeedEntry> latest = store.Latest();
        if (!latest) {
            response.status = 204;
            return;
        }
        response.set_content(std::string(latest->Json()), "application/json; charset=utf-8");
    });
    http.Get("/readings", [this](const httplib::Request& request, httplib::Response& response) {
        uint64_t after = 0;
        uint64_t limit = FEED_DEFAULT_READINGS_PER_REQUEST;
        if ((request.has_param("after") && !ParseSeq(request.get_param_value("after"), after)) ||
            (request.has_param("limit") && (!ParseSeq(request.get_param_value("limit"), limit) || limit == 0))) {
            JsonError(response, 400, "after takes a seq and limit a count from 1 to 1000");
            return;
        }
        limit = std::min<uint64_t>(limit, FEED_MOST_READINGS_PER_REQUEST);
        std::string body = "[";
        for (const FeedEntry& entry : store.After(after, static_cast<size_t>(limit))) {
            if (body.size() > 1) body += ',';
            body += entry.Json();
        }
        body += ']';
        response.set_content(body, "application/json; charset=utf-8");
    });
    http.Get("/readings/stream", [this](const httplib::Request& q, httplib::Response& r) { Stream(q, r); });
    http.Get("/weight", [this](const httplib::Request&, httplib::Response& response) {
        const std::optional<std::string> json = live.Newest();
        if (!json) {
            response.status = 204;  // no scale that is asked has said anything yet
            return;
        }
        response.set_content(*json, "application/json; charset=utf-8");
    });
    http.Get("/weight/stream", [this](const httplib::Request&, httplib::Response& r) { StreamLive(r); });
    http.Get("/status", [this](const httplib::Request&, httplib::Response& response) {
        DeskState now;
        {
            std::lock_guard<std::mutex> guard(pageLock);
            now = state;
        }
        response.set_content(StatusJson(now), "application/json; charset=utf-8");
    });
}

CHttpFeed::CHttpFeed(HttpFeedSettings settings) : m_server(std::make_unique<Server>(std::move(settings))) {
    RaiseDescriptorLimit();
    m_server->http.new_task_queue = [] { return new CountedPool(); };
    // The library's own choice on Linux adds SO_REUSEPORT, which would let
    // a second program listen on the same port and take half the clients.
    m_server->http.set_socket_options([](socket_t sock) {
        int yes = 1;
#ifdef _WIN32
        setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
    m_server->http.set_keep_alive_timeout(5);
    m_server->http.set_read_timeout(5);
    // A stream client that takes nothing for this long, its buffers full,
    // is dropped; it may come back with its last id.
    m_server->http.set_write_timeout(5);
    m_server->Routes();
}

CHttpFeed::~CHttpFeed() {
    m_server->store.Stop();
    m_server->live.Stop();
    m_server->http.stop();
    if (m_server->thread.joinable()) m_server->thread.join();
}

bool CHttpFeed::CertificateUsable() const {
    if (m_server->settings.certificateFile.empty() && m_server->settings.keyFile.empty()) return true;
    return FeedCanServeTls() && m_server->made && m_server->made->is_valid();
}

bool CHttpFeed::Start() {
    Server& server = *m_server;
    if (!CertificateUsable()) return false;
    if (server.settings.port == 0) {
        server.port = server.http.bind_to_any_port(server.settings.host);
        if (server.port <= 0) return false;
    } else {
        if (!server.http.bind_to_port(server.settings.host, server.settings.port)) return false;
        server.port = server.settings.port;
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    server.thread = std::thread([&server, ended] {
        server.http.listen_after_bind();
        *ended = true;
    });
    // The library's stop() does nothing until the listening has begun: a
    // feed ended at once would otherwise wait in accept() for ever.
    while (!server.http.is_running() && !*ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !*ended;
}

int CHttpFeed::Port() const { return m_server->port; }

void CHttpFeed::Add(const RowRecord& record) {
    m_server->store.Add(record.seq, ReadingJson(FieldsOf(record, m_remarkPrefix)));
}

void CHttpFeed::AddEarlier(const std::vector<RowRecord>& readings) {
    for (const RowRecord& record : readings) Add(record);
}

void CHttpFeed::SetRemarkPrefix(std::wstring prefix) { m_remarkPrefix = std::move(prefix); }

void CHttpFeed::SetPageTexts(const std::map<std::string, std::wstring>& texts) {
    nlohmann::json json = nlohmann::json::object();
    for (const auto& [name, text] : texts) json[name] = Utf8FromWide(text);
    std::lock_guard<std::mutex> guard(m_server->pageLock);
    m_server->pageTexts = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void CHttpFeed::ReadingAdded(const AddedReading& reading) { Add(reading.Record()); }

void CHttpFeed::ReadingsHeldBack(uint64_t seq) {
    if (!m_readFrom) return;
    // The journal keeps them now; they come in order from the first.
    for (const RowRecord& record : m_readFrom(seq, FEED_KEPT_READINGS))
        if (record.seq > m_server->store.LastSeq()) Add(record);
}

void CHttpFeed::DeskStateChanged(const DeskState& state) {
    // Made into JSON only when asked for: this runs with every reading.
    std::lock_guard<std::mutex> guard(m_server->pageLock);
    m_server->state = state;
}

void CHttpFeed::LiveWeightChanged(const LiveWeightState& live) { m_server->live.Post(LiveWeightJson(live)); }

}  // namespace tarvex
