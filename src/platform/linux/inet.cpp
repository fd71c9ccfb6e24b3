#include "platform/inet.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <strings.h>

#include "platform/strings.h"

namespace platform::inet {

namespace {

thread_local uint32_t t_lastError = 0;

bool Fail(uint32_t nError) {
    t_lastError = nError;
    return false;
}


// A body received from the network is held here until the caller reads it; past this size the
// transfer is paused, so memory stays flat whatever the body size.
constexpr size_t kReceiveHold = 512 * 1024;
// Written body bytes are handed to the network once this much is pending (and at the end).
constexpr size_t kSendHold = 64 * 1024;
constexpr long kMaxRedirects = 10;

enum class Kind { Internet, Connection, Request };

using Clock = std::chrono::steady_clock;

// Idle multi handles, each with the connections its last transfers left open, keyed by what a
// connection can be reused for. A request borrows one for its whole life, so a handle and its
// connections are only ever used by one thread at a time.
class ConnectionPool {
public:
    CURLM* Acquire(const std::string& key) {
        {
            std::lock_guard lock(m_lock);
            for (auto it = m_idle.rbegin(); it != m_idle.rend(); ++it) {
                if (it->first != key) continue;
                CURLM* m = it->second;
                m_idle.erase(std::next(it).base());
                return m;
            }
        }
        CURLM* m = curl_multi_init();
        if (m != nullptr) curl_multi_setopt(m, CURLMOPT_MAXCONNECTS, 2L);
        return m;
    }
    void Release(const std::string& key, CURLM* m) {
        CURLM* evicted = nullptr;
        {
            std::lock_guard lock(m_lock);
            m_idle.emplace_back(key, m);
            if (m_idle.size() > kMaxIdle) {
                evicted = m_idle.front().second;
                m_idle.erase(m_idle.begin());
            }
        }
        if (evicted != nullptr) curl_multi_cleanup(evicted);
    }

private:
    static constexpr size_t kMaxIdle = 8;
    std::mutex m_lock;
    std::vector<std::pair<std::string, CURLM*>> m_idle;
};

// Never destroyed: a transfer on an abandoned thread may still hand its handle back at exit.
ConnectionPool& Pool() {
    static auto* pool = new ConnectionPool();
    return *pool;
}

// Name lookups and TLS sessions shared by every request, so a second connection to a server
// skips both.
class SharedCaches {
public:
    SharedCaches() : m_share(curl_share_init()) {
        if (m_share == nullptr) return;
        curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, Lock);
        curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, Unlock);
        curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    CURLSH* Get() const { return m_share; }

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<SharedCaches*>(user)->m_locks[static_cast<size_t>(data) % kLocks].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<SharedCaches*>(user)->m_locks[static_cast<size_t>(data) % kLocks].unlock();
    }
    static constexpr size_t kLocks = 8;
    CURLSH* m_share;
    std::mutex m_locks[kLocks];
};

CURLSH* Shared() {
    static auto* caches = new SharedCaches();
    return caches->Get();
}

}  // namespace

namespace {
// Session options, copied down from the internet handle when a child is opened.
struct Session {
    std::string agent;
    uint32_t accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    std::string proxyBypass;
    std::string proxyUser;
    std::string proxyPassword;
    Timeouts timeouts;
};
}  // namespace

struct InternetObject {
    explicit InternetObject(Kind k) : kind(k) {}
    virtual ~InternetObject() = default;
    InternetObject(const InternetObject&) = delete;
    InternetObject& operator=(const InternetObject&) = delete;
    Kind kind;
    Session s;
};

namespace {

struct Connection : InternetObject {
    Connection() : InternetObject(Kind::Connection) {}
    std::string host;
    uint16_t port = 0;
};

struct Request : InternetObject {
    Request() : InternetObject(Kind::Request) {}
    ~Request() override {
        // Removing a transfer that did not end closes its connection; finished ones stay in
        // the handle's cache for the next request to the same place.
        if (multi != nullptr && easy != nullptr && added) curl_multi_remove_handle(multi, easy);
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (multi != nullptr) Pool().Release(poolKey, multi);
        if (headers != nullptr) curl_slist_free_all(headers);
    }

    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    bool added = false;
    bool secure = false;
    bool followRedirects = true;
    std::string verb;
    std::string url;
    std::string host;
    std::string proxy;    // the proxy this request goes through, empty when direct
    std::string poolKey;
    char errorText[CURL_ERROR_SIZE] = {};

    // Progress of the transfer.
    bool sent = false;          // a send call started the transfer
    bool bodyRequested = false;  // the request line and headers are out, the body is wanted
    bool headersDone = false;    // the final response's headers are complete
    bool finished = false;
    CURLcode result = CURLE_OK;
    Clock::time_point lastActivity = Clock::now();
    Clock::time_point started = Clock::now();
    // Low-speed window: bytes moved and time spent waiting on the network since it began.
    uint64_t windowBytes = 0;
    std::chrono::milliseconds windowWait{0};
    int64_t contentLength = -1;

    // Response of the final hop.
    std::vector<std::string> responseHeaders;
    long status = 0;
    std::string statusText;
    bool sawLocation = false;

    // Receive side.
    std::vector<char> rbuf;
    size_t rpos = 0;
    bool recvPaused = false;

    // Send side.
    bool hasBody = false;
    uint64_t bodyTotal = 0;
    uint64_t bodyWritten = 0;  // by the caller
    uint64_t bodySent = 0;     // handed to the network
    std::vector<char> sbuf;
    size_t spos = 0;
    bool sendPaused = false;

    size_t Pending() const { return rbuf.size() - rpos; }
    size_t SendPending() const { return sbuf.size() - spos; }
};

std::string Narrow(const wchar_t* sz) { return sz == nullptr ? std::string() : ToUtf8(sz); }

void EnsureGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// An error of the transfer, in the vocabulary of the Windows API.
uint32_t MapCurlError(Request& r, CURLcode code) {
    long osErrno = 0;
    curl_easy_getinfo(r.easy, CURLINFO_OS_ERRNO, &osErrno);
    const std::string text = r.errorText;
    switch (code) {
        case CURLE_OK: return 0;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
        case CURLE_PEER_FAILED_VERIFICATION:
            return text.find("subject name") != std::string::npos || text.find("host name") != std::string::npos
                       ? ERROR_INTERNET_SEC_CERT_CN_INVALID
                       : ERROR_INTERNET_INVALID_CA;
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM: return ERROR_INTERNET_INVALID_CA;
        case CURLE_SSL_CONNECT_ERROR: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
        case CURLE_PARTIAL_FILE: return ERROR_INTERNET_CONNECTION_ABORTED;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return osErrno == ECONNRESET || osErrno == EPIPE ? ERROR_INTERNET_CONNECTION_RESET
                                                              : ERROR_INTERNET_CONNECTION_ABORTED;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_RANGE_ERROR: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_UNSUPPORTED_PROTOCOL:
            // Also what a reply without a status line (HTTP/0.9) gives.
            return text.find("HTTP/0.9") != std::string::npos ? ERROR_HTTP_INVALID_SERVER_RESPONSE
                                                               : ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_SEND_FAIL_REWIND: return ERROR_HTTP_REDIRECT_FAILED;
        case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
        case CURLE_OUT_OF_MEMORY: return ERROR_NOT_ENOUGH_MEMORY_;
        case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
        default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

bool IsRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& r = *static_cast<Request*>(user);
    const size_t n = size * count;
    r.lastActivity = Clock::now();
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    r.windowBytes += n;
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response (after a redirect or an interim 1xx) starts over.
        r.contentLength = -1;
        r.responseHeaders.clear();
        r.sawLocation = false;
        r.status = 0;
        r.statusText.clear();
        const size_t sp1 = line.find(' ');
        if (sp1 != std::string::npos) {
            r.status = std::strtol(line.c_str() + sp1 + 1, nullptr, 10);
            const size_t sp2 = line.find(' ', sp1 + 1);
            if (sp2 != std::string::npos) r.statusText = line.substr(sp2 + 1);
        }
        return n;
    }
    if (line.empty()) {
        const bool interim = r.status >= 100 && r.status < 200;
        const bool hop = r.followRedirects && IsRedirect(r.status) && r.sawLocation;
        if (!interim && !hop) r.headersDone = true;
        return n;
    }
    if (line.size() >= 9 && strncasecmp(line.c_str(), "location:", 9) == 0) r.sawLocation = true;
    if (line.size() > 15 && strncasecmp(line.c_str(), "content-length:", 15) == 0)
        r.contentLength = std::strtoll(line.c_str() + 15, nullptr, 10);
    r.responseHeaders.push_back(std::move(line));
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& r = *static_cast<Request*>(user);
    const size_t n = size * count;
    r.lastActivity = Clock::now();
    r.headersDone = true;
    if (r.Pending() >= kReceiveHold) {
        r.recvPaused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (r.rpos == r.rbuf.size()) {
        r.rbuf.clear();
        r.rpos = 0;
    }
    r.rbuf.insert(r.rbuf.end(), data, data + n);
    r.windowBytes += n;
    return n;
}

size_t OnSendBody(char* buffer, size_t size, size_t count, void* user) {
    auto& r = *static_cast<Request*>(user);
    r.bodyRequested = true;
    r.lastActivity = Clock::now();
    const size_t room = size * count;
    if (r.SendPending() == 0) {
        if (r.bodySent >= r.bodyTotal) return 0;
        r.sendPaused = true;
        return CURL_READFUNC_PAUSE;
    }
    const size_t n = std::min(room, r.SendPending());
    std::memcpy(buffer, r.sbuf.data() + r.spos, n);
    r.spos += n;
    r.bodySent += n;
    r.windowBytes += n;
    if (r.spos == r.sbuf.size()) {
        r.sbuf.clear();
        r.spos = 0;
    }
    return n;
}

// Cannot be seeked: a body that a redirect would have to send again is refused.
int OnSeek(void*, curl_off_t, int) { return CURL_SEEKFUNC_CANTSEEK; }

void SetPause(Request& r) {
    int mask = 0;
    if (r.recvPaused) mask |= CURLPAUSE_RECV;
    if (r.sendPaused) mask |= CURLPAUSE_SEND;
    curl_easy_pause(r.easy, mask);
}

// Drives the transfer until done() holds or it ended; false with the last error set when it
// failed or stalled past the time-out.
// A proxy that wants credentials before it opens a tunnel: reported like a plain proxy's answer,
// as a response of status 407.
void TakeTunnelRefusal(Request& r) {
    long connectCode = 0;
    if (r.result == CURLE_OK || r.proxy.empty()) return;
    if (curl_easy_getinfo(r.easy, CURLINFO_HTTP_CONNECTCODE, &connectCode) != CURLE_OK || connectCode != 407) return;
    r.result = CURLE_OK;
    r.status = 407;
    r.statusText = "Proxy Authentication Required";
    r.responseHeaders.clear();
    r.rbuf.clear();
    r.rpos = 0;
    r.headersDone = true;
}

// The overall bound of the request as far as its sizes are known now.
Clock::time_point Deadline(const Request& r) {
    int64_t size = static_cast<int64_t>(r.bodyTotal);
    if (r.headersDone) {
        if (r.contentLength < 0 && r.verb != "HEAD") return r.started + std::chrono::milliseconds(r.s.timeouts.unknownSizeMs);
        size += std::max<int64_t>(r.contentLength, 0);
    }
    return r.started + std::chrono::milliseconds(TransferDeadlineMs(r.s.timeouts, size));
}

// Drives the transfer until done() holds or it ended; false with the last error set when it
// failed, stalled past the time-out, crawled below the low-speed limit, outlived its overall
// bound or was cancelled.
template <class Done>
bool Pump(Request& r, uint32_t nIdleLimitMs, Done done) {
    r.lastActivity = Clock::now();
    auto tick = Clock::now();
    for (;;) {
        if (TransfersCancelled()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        int running = 0;
        const CURLMcode mc = curl_multi_perform(r.multi, &running);
        if (mc != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(r.multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == r.easy) {
                r.finished = true;
                r.result = msg->data.result;
                TakeTunnelRefusal(r);
                // An ended transfer has delivered whatever headers it will.
                if (r.result == CURLE_OK) r.headersDone = true;
            }
        }
        // What the caller waited for counts even when the transfer broke right after it; the
        // break is reported by the next call.
        if (done()) return true;
        if (r.finished) return r.result == CURLE_OK || Fail(MapCurlError(r, r.result));
        const auto now = Clock::now();
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - r.lastActivity);
        if (idle.count() >= static_cast<long long>(nIdleLimitMs)) return Fail(ERROR_INTERNET_TIMEOUT);
        if (now >= Deadline(r)) return Fail(ERROR_INTERNET_TIMEOUT);
        // Only time spent waiting here counts: a caller that is slow to read is not the network.
        r.windowWait += std::chrono::duration_cast<std::chrono::milliseconds>(now - tick);
        tick = now;
        if (r.windowWait.count() >= static_cast<long long>(r.s.timeouts.lowSpeedMs)) {
            const uint64_t wanted = static_cast<uint64_t>(r.s.timeouts.lowSpeedBytes) * r.windowWait.count() / 1000;
            if (r.windowBytes < wanted) return Fail(ERROR_INTERNET_TIMEOUT);
            r.windowBytes = 0;
            r.windowWait = std::chrono::milliseconds(0);
        }
        const int wait = static_cast<int>(std::min<long long>(100, nIdleLimitMs - idle.count()));
        if (curl_multi_poll(r.multi, nullptr, 0, wait, nullptr) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
    }
}

Request* AsRequest(HINTERNET h) {
    return h != nullptr && h->kind == Kind::Request ? static_cast<Request*>(h) : nullptr;
}

const char* EnvNonEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : nullptr;
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Unbracket(const std::string& host) {
    return host.size() >= 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
}

bool IsLoopback(const std::string& szHost) {
    const std::string host = Lower(Unbracket(szHost));
    if (host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"))) return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// One entry of a no-proxy list: "*", a domain (matching itself and its subdomains), an address,
// or an IPv4 network "a.b.c.d/n".
bool BypassEntryMatches(std::string entry, const std::string& host) {
    if (entry == "*") return true;
    while (!entry.empty() && entry.front() == '.') entry.erase(entry.begin());
    while (!entry.empty() && entry.back() == '.') entry.pop_back();
    entry = Lower(Unbracket(entry));
    if (entry.empty()) return false;
    const size_t slash = entry.find('/');
    in_addr hostV4{};
    if (slash != std::string::npos) {
        in_addr net{};
        const int bits = std::atoi(entry.c_str() + slash + 1);
        if (::inet_pton(AF_INET, entry.substr(0, slash).c_str(), &net) != 1 || bits < 0 || bits > 32 ||
            ::inet_pton(AF_INET, host.c_str(), &hostV4) != 1)
            return false;
        const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
        return (ntohl(net.s_addr) & mask) == (ntohl(hostV4.s_addr) & mask);
    }
    return host == entry || (host.size() > entry.size() && host.ends_with("." + entry));
}

bool Bypassed(const std::string& list, const std::string& szHost) {
    const std::string host = Lower(Unbracket(szHost));
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find_first_of(", ", pos);
        if (end == std::string::npos) end = list.size();
        if (end > pos && BypassEntryMatches(list.substr(pos, end - pos), host)) return true;
        pos = end + 1;
    }
    return false;
}

std::string WithScheme(const std::string& proxy) {
    return proxy.empty() || proxy.find("://") != std::string::npos ? proxy : "http://" + proxy;
}

// The proxy for a request: the one given to InternetOpen, or the environment's as curl reads it
// (http_proxy in lower case only, https_proxy/HTTPS_PROXY, then all_proxy/ALL_PROXY, minus
// no_proxy/NO_PROXY). The environment's proxy never carries loopback traffic: a proxy set for
// the outside world would otherwise see (and break) requests to this machine.
std::string ProxyFor(const Session& s, bool bSecure, const std::string& host) {
    if (s.accessType == INTERNET_OPEN_TYPE_DIRECT) return {};
    if (s.accessType == INTERNET_OPEN_TYPE_PROXY) return Bypassed(s.proxyBypass, host) ? std::string() : WithScheme(s.proxy);
    const char* proxy = bSecure ? (EnvNonEmpty("https_proxy") ? EnvNonEmpty("https_proxy") : EnvNonEmpty("HTTPS_PROXY"))
                                : EnvNonEmpty("http_proxy");
    if (proxy == nullptr) proxy = EnvNonEmpty("all_proxy") ? EnvNonEmpty("all_proxy") : EnvNonEmpty("ALL_PROXY");
    if (proxy == nullptr || IsLoopback(host)) return {};
    const char* bypass = EnvNonEmpty("no_proxy") ? EnvNonEmpty("no_proxy") : EnvNonEmpty("NO_PROXY");
    if (bypass != nullptr && Bypassed(bypass, host)) return {};
    return WithScheme(proxy);
}

bool StartTransfer(Request& r) {
    if (r.sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (TransfersCancelled()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    r.sent = true;
    r.started = Clock::now();
    CURL* e = r.easy;
    if (CURLSH* share = Shared()) curl_easy_setopt(e, CURLOPT_SHARE, share);
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // Never follow an https address down to plain http.
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, r.secure ? "https" : "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, r.followRedirects ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* ca = EnvNonEmpty("CURL_CA_BUNDLE") ? EnvNonEmpty("CURL_CA_BUNDLE") : EnvNonEmpty("SSL_CERT_FILE"))
        curl_easy_setopt(e, CURLOPT_CAINFO, ca);
    if (const char* dir = EnvNonEmpty("SSL_CERT_DIR")) curl_easy_setopt(e, CURLOPT_CAPATH, dir);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r.errorText);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r.s.timeouts.connectMs));
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, nullptr);
    if (!r.s.agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, r.s.agent.c_str());
    // The proxy is decided here, once, so that it can be named and the connection cache keyed.
    curl_easy_setopt(e, CURLOPT_PROXY, r.proxy.c_str());
    curl_easy_setopt(e, CURLOPT_NOPROXY, "");
    if (!r.s.proxyUser.empty()) curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, r.s.proxyUser.c_str());
    if (!r.s.proxyPassword.empty()) curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, r.s.proxyPassword.c_str());
    // A proxy's answer to CONNECT is not the server's response.
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
    // The body is announced by its length; no 100-continue round trip.
    r.headers = curl_slist_append(r.headers, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headers);
    if (r.verb == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (r.verb == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.bodyTotal));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, OnSendBody);
        curl_easy_setopt(e, CURLOPT_READDATA, &r);
        curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, OnSeek);
        if (r.verb != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
    }
    if (curl_multi_add_handle(r.multi, e) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
    r.added = true;
    return true;
}

// Hands pending body bytes to the network until at most nKeep remain.
bool Flush(Request& r, size_t nKeep) {
    if (r.SendPending() <= nKeep || r.finished) return true;
    if (r.sendPaused) {
        r.sendPaused = false;
        SetPause(r);
    }
    const bool ok = Pump(r, r.s.timeouts.sendMs, [&] { return r.SendPending() <= nKeep; });
    if (ok && r.finished) {
        // Answered early: what was not taken is dropped.
        r.sbuf.clear();
        r.spos = 0;
    }
    return ok;
}

}  // namespace

uint32_t LastError() { return t_lastError; }

HINTERNET InternetOpen(const wchar_t* szAgent, uint32_t nAccessType, const wchar_t* szProxy,
                       const wchar_t* szProxyBypass, uint32_t) {
    EnsureGlobalInit();
    if (nAccessType == INTERNET_OPEN_TYPE_PROXY && (szProxy == nullptr || *szProxy == L'\0')) {
        Fail(ERROR_INVALID_PARAMETER_);
        return nullptr;
    }
    auto* h = new (std::nothrow) InternetObject(Kind::Internet);
    if (h == nullptr) {
        Fail(ERROR_NOT_ENOUGH_MEMORY_);
        return nullptr;
    }
    h->s.agent = Narrow(szAgent);
    h->s.accessType = nAccessType;
    h->s.proxy = Narrow(szProxy);
    h->s.proxyBypass = Narrow(szProxyBypass);
    h->s.timeouts = DefaultTimeouts();
    return h;
}

HINTERNET InternetConnect(HINTERNET hInternet, const wchar_t* szServerName, uint16_t nPort) {
    if (hInternet == nullptr || hInternet->kind != Kind::Internet) {
        Fail(ERROR_INVALID_HANDLE_);
        return nullptr;
    }
    if (szServerName == nullptr || *szServerName == L'\0') {
        Fail(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    // A host name, an IPv4 address or a bracketed IPv6 address; nothing that would change the
    // meaning of the address built from it (user info, path, spaces).
    for (const wchar_t* p = szServerName; *p != L'\0'; ++p) {
        const wchar_t c = *p;
        const bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                        c == L'-' || c == L'.' || c == L'_' || c == L':' || c == L'[' || c == L']' || c > 0x7F;
        if (!ok) {
            Fail(ERROR_INTERNET_INVALID_URL);
            return nullptr;
        }
    }
    auto* c = new (std::nothrow) Connection();
    if (c == nullptr) {
        Fail(ERROR_NOT_ENOUGH_MEMORY_);
        return nullptr;
    }
    c->s = hInternet->s;
    c->host = ToUtf8(szServerName);
    c->port = nPort;
    return c;
}

bool InternetSetOption(HINTERNET h, uint32_t nOption, uint32_t nValue) {
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    switch (nOption) {
        case INTERNET_OPTION_CONNECT_TIMEOUT: h->s.timeouts.connectMs = nValue; return true;
        case INTERNET_OPTION_SEND_TIMEOUT: h->s.timeouts.sendMs = nValue; return true;
        case INTERNET_OPTION_RECEIVE_TIMEOUT: h->s.timeouts.receiveMs = nValue; return true;
        default: return Fail(ERROR_INVALID_PARAMETER_);
    }
}

bool InternetSetOption(HINTERNET h, uint32_t nOption, const std::wstring& szValue) {
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    switch (nOption) {
        case INTERNET_OPTION_PROXY_USERNAME: h->s.proxyUser = ToUtf8(szValue); return true;
        case INTERNET_OPTION_PROXY_PASSWORD: h->s.proxyPassword = ToUtf8(szValue); return true;
        default: return Fail(ERROR_INVALID_PARAMETER_);
    }
}

HINTERNET HttpOpenRequest(HINTERNET hConnection, std::string_view szVerb, std::string_view szObjectName,
                          uint32_t nFlags) {
    if (hConnection == nullptr || hConnection->kind != Kind::Connection) {
        Fail(ERROR_INVALID_HANDLE_);
        return nullptr;
    }
    const auto& c = static_cast<const Connection&>(*hConnection);
    auto r = std::unique_ptr<Request>(new (std::nothrow) Request());
    if (!r) {
        Fail(ERROR_NOT_ENOUGH_MEMORY_);
        return nullptr;
    }
    r->s = c.s;
    r->verb = szVerb.empty() ? "GET" : std::string(szVerb);
    r->secure = (nFlags & INTERNET_FLAG_SECURE) != 0;
    r->followRedirects = (nFlags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    std::string object = EscapeObjectName(szObjectName);
    if (object.empty() || object[0] != '/') object.insert(object.begin(), '/');
    // A literal IPv6 host needs its brackets in the address.
    const std::string host = c.host.find(':') != std::string::npos && c.host[0] != '[' ? "[" + c.host + "]" : c.host;
    r->url = std::string(r->secure ? "https://" : "http://") + host + ":" + std::to_string(c.port) + object;
    r->host = c.host;
    r->proxy = ProxyFor(r->s, r->secure, c.host);
    r->poolKey = std::string(r->secure ? "https://" : "http://") + host + ":" + std::to_string(c.port) + "|" + r->proxy +
                 "|" + r->s.proxyUser;
    r->easy = curl_easy_init();
    r->multi = Pool().Acquire(r->poolKey);
    if (r->easy == nullptr || r->multi == nullptr) {
        Fail(ERROR_NOT_ENOUGH_MEMORY_);
        return nullptr;
    }
    if ((nFlags & INTERNET_FLAG_PRAGMA_NOCACHE) != 0) r->headers = curl_slist_append(r->headers, "Pragma: no-cache");
    return r.release();
}

bool HttpAddRequestHeaders(HINTERNET hRequest, std::string_view szHeaders) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (r->sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    size_t pos = 0;
    while (pos < szHeaders.size()) {
        size_t end = szHeaders.find('\n', pos);
        if (end == std::string_view::npos) end = szHeaders.size();
        std::string line(szHeaders.substr(pos, end - pos));
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (!line.empty()) {
            if (line.find(':') == std::string::npos) return Fail(ERROR_INVALID_PARAMETER_);
            curl_slist* next = curl_slist_append(r->headers, line.c_str());
            if (next == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY_);
            r->headers = next;
        }
        pos = end + 1;
    }
    return true;
}

bool HttpSendRequest(HINTERNET hRequest) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    r->hasBody = false;
    r->bodyTotal = 0;
    if (!StartTransfer(*r)) return false;
    return Pump(*r, r->s.timeouts.receiveMs, [&] { return r->headersDone; });
}

bool HttpSendRequestEx(HINTERNET hRequest, uint64_t nTotalBytes) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (r->verb == "GET" || r->verb == "HEAD") return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    r->hasBody = true;
    r->bodyTotal = nTotalBytes;
    if (!StartTransfer(*r)) return false;
    // Returns once the server took the request headers (or already answered).
    return Pump(*r, r->s.timeouts.sendMs, [&] { return r->bodyRequested || r->headersDone; });
}

bool InternetWriteFile(HINTERNET hRequest, const void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyWritten) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (pcbyWritten != nullptr) *pcbyWritten = 0;
    if (!r->sent || !r->hasBody) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (pbyBuff == nullptr && cbyBuff != 0) return Fail(ERROR_INVALID_PARAMETER_);
    if (cbyBuff > r->bodyTotal - r->bodyWritten) return Fail(ERROR_INVALID_PARAMETER_);
    if (r->finished) {
        if (r->result != CURLE_OK) return Fail(MapCurlError(*r, r->result));
        // The server answered before taking the whole body; the answer stands and the rest
        // of the body is dropped.
        r->bodyWritten += cbyBuff;
        if (pcbyWritten != nullptr) *pcbyWritten = cbyBuff;
        return true;
    }
    const char* p = static_cast<const char*>(pbyBuff);
    // Drop what the network already took, so the buffer stays at about the hold size.
    if (r->spos >= kSendHold) {
        r->sbuf.erase(r->sbuf.begin(), r->sbuf.begin() + static_cast<std::ptrdiff_t>(r->spos));
        r->spos = 0;
    }
    r->sbuf.insert(r->sbuf.end(), p, p + cbyBuff);
    r->bodyWritten += cbyBuff;
    if (!Flush(*r, kSendHold)) return false;
    if (pcbyWritten != nullptr) *pcbyWritten = cbyBuff;
    return true;
}

bool HttpEndRequest(HINTERNET hRequest) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (!r->sent || !r->hasBody) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (r->bodyWritten != r->bodyTotal && !r->finished) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (!Flush(*r, 0)) return false;
    if (r->finished) return r->result == CURLE_OK || Fail(MapCurlError(*r, r->result));
    return Pump(*r, r->s.timeouts.receiveMs, [&] { return r->headersDone; });
}

bool InternetReadFile(HINTERNET hRequest, void* pbyBuff, uint32_t cbyBuff, uint32_t* pcbyRead) {
    Request* r = AsRequest(hRequest);
    if (pcbyRead != nullptr) *pcbyRead = 0;
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (pcbyRead == nullptr || (pbyBuff == nullptr && cbyBuff != 0)) return Fail(ERROR_INVALID_PARAMETER_);
    if (!r->sent) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (cbyBuff == 0) return true;
    if (r->Pending() == 0 && !r->finished) {
        if (r->recvPaused) {
            r->recvPaused = false;
            SetPause(*r);
        }
        if (!Pump(*r, r->s.timeouts.receiveMs, [&] { return r->Pending() > 0; })) return false;
    }
    if (r->Pending() == 0) {
        // Ended: completely, or cut short.
        return r->result == CURLE_OK || Fail(MapCurlError(*r, r->result));
    }
    const size_t n = std::min<size_t>(cbyBuff, r->Pending());
    std::memcpy(pbyBuff, r->rbuf.data() + r->rpos, n);
    r->rpos += n;
    *pcbyRead = static_cast<uint32_t>(n);
    return true;
}

bool HttpQueryContentLength(HINTERNET hRequest, uint64_t* pnLength) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (!r->headersDone) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    for (const auto& line : r->responseHeaders) {
        if (line.size() > 15 && strncasecmp(line.c_str(), "content-length:", 15) == 0) {
            const char* p = line.c_str() + 15;
            while (*p == ' ' || *p == '\t') ++p;
            char* end = nullptr;
            errno = 0;
            const unsigned long long v = std::strtoull(p, &end, 10);
            if (end == p || errno != 0) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
            if (pnLength != nullptr) *pnLength = v;
            return true;
        }
    }
    return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
}

bool HttpQueryStatusCode(HINTERNET hRequest, uint32_t* pnStatus) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (!r->headersDone || r->status <= 0) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    if (pnStatus != nullptr) *pnStatus = static_cast<uint32_t>(r->status);
    return true;
}

bool HttpQueryHeader(HINTERNET hRequest, std::string_view szName, std::string* pszValue) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (!r->headersDone) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    for (const auto& line : r->responseHeaders) {
        if (line.size() <= szName.size() || line[szName.size()] != ':' ||
            strncasecmp(line.c_str(), std::string(szName).c_str(), szName.size()) != 0)
            continue;
        size_t b = szName.size() + 1, e = line.size();
        while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
        while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
        if (pszValue != nullptr) *pszValue = line.substr(b, e - b);
        return true;
    }
    return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
}

bool HttpQueryProxy(HINTERNET hRequest, std::string* pszProxy) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (pszProxy != nullptr) *pszProxy = r->proxy;
    return true;
}

bool HttpQueryStatusText(HINTERNET hRequest, std::string* pszText) {
    Request* r = AsRequest(hRequest);
    if (r == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    if (!r->headersDone || r->status <= 0) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    if (pszText != nullptr) *pszText = r->statusText;
    return true;
}

void InterruptOpenRequests() {}  // the transfer loop polls the cancel flag

bool InternetCloseHandle(HINTERNET h) {
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE_);
    delete h;
    return true;
}

}  // namespace platform::inet
