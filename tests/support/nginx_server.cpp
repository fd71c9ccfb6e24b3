#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orvo::test {

std::vector<AccessLogLine> ParseAccessLog(const std::string& text) {
    std::vector<AccessLogLine> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        AccessLogLine l;
        f >> l.connection >> l.status >> l.method >> l.uri >> l.range >> l.bytes;
        lines.push_back(l);
    }
    return lines;
}

uint16_t FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (s >= 0) ::close(s);
        throw std::runtime_error("no free loopback port");
    }
    ::close(s);
    return ntohs(a.sin_port);
}

bool WaitForPort(uint16_t port, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void MakePatternFile(const std::string& path, uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) throw std::runtime_error("cannot make " + path);
    const auto stamp = [&](uint64_t off) {
        char buf[17];
        std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(off));
        const size_t n = static_cast<size_t>(std::min<uint64_t>(16, size - off));
        if (::pwrite(fd, buf, n, static_cast<off_t>(off)) != static_cast<ssize_t>(n))
            throw std::runtime_error("cannot write " + path);
    };
    for (uint64_t off = 0; off < size; off += 64 * 1024) stamp(off);
    if (size > 16) stamp(size - 16);
    // Small files get every byte set.
    if (size <= 64 * 1024) {
        std::string all(size, '\0');
        for (uint64_t i = 0; i < size; ++i) all[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
        if (::pwrite(fd, all.data(), all.size(), 0) != static_cast<ssize_t>(all.size()))
            throw std::runtime_error("cannot write " + path);
    }
    ::close(fd);
}

bool SameFileContent(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        const auto n = fa.gcount();
        if (n != fb.gcount()) return false;
        if (std::memcmp(ba.data(), bb.data(), static_cast<size_t>(n)) != 0) return false;
        if (static_cast<size_t>(n) < ba.size()) return true;
    }
}

NginxServer::NginxServer() : NginxServer(Options{}) {}

NginxServer::NginxServer(const Options& options) : m_options(options) {
    m_root = m_dir / "root";
    MakeDirs(m_root);
    MakeDirs(m_dir / "tmp");
    if (m_options.https) MakeCertificates();
    Start();
}

NginxServer::~NginxServer() { Stop(); }

std::string NginxServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::string NginxServer::HttpsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_httpsPort) + path;
}

void NginxServer::AddRedirect(const std::string& fromPath, const std::string& to, int code) {
    AddDirectives("location = " + fromPath + " { return " + std::to_string(code) + " " + to + "; }");
}

void NginxServer::AddDirectives(const std::string& directives) {
    m_directives.push_back(directives);
    if (m_pid > 0) {
        Stop();
        Start();
    }
}

std::string NginxServer::AccessLog() const { return ReadFile(m_dir / "access.log"); }

std::string NginxServer::ErrorLog() const { return ReadFile(m_dir / "error.log") + ReadFile(m_dir / "stderr.log"); }

void NginxServer::MakeCertificates() {
    const std::string d = m_dir.path();
    WriteFile(d + "/ext.cnf", "subjectAltName=" + m_options.certNames +
                                  "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n");
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const std::string cmd =
        "exec 2>&1; cd '" + d + "' && openssl req -x509" + ec + "-keyout ca.key -out ca.pem -days 2 -subj '/CN=Orvo Test CA'" +
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign" +
        " && openssl req" + ec + "-keyout server.key -out server.csr -subj '/CN=orvo-test-server'" +
        " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2"
        " -extfile ext.cnf";
    std::string out;
    if (Run(cmd, &out) != 0) throw std::runtime_error("openssl failed: " + out);
    m_caFile = d + "/ca.pem";
}

void NginxServer::WriteConfig() const {
    const std::string d = m_dir.path();
    std::ostringstream c;
    c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log warn;\n"
      << "events { worker_connections 256; }\n"
      << "http {\n  sendfile on;\n  keepalive_timeout 5;\n"
      << "  default_type application/octet-stream;\n";
    if (!m_options.accessLog) c << "  access_log off;\n";
    if (m_options.accessLog)
        c << "  log_format orvo '$connection $status $request_method $uri \"$http_range\" $body_bytes_sent';\n"
          << "  access_log " << d << "/access.log orvo;\n";
    c << "  types { text/html html htm; text/xml xml; application/zip zip; text/plain txt; }\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        c << "  " << t << "_temp_path " << d << "/tmp/" << t << ";\n";
    c << "  server {\n    listen 127.0.0.1:" << m_port << ";\n";
    if (m_options.https)
        c << "    listen 127.0.0.1:" << m_httpsPort << " ssl;\n    ssl_certificate " << d
          << "/server.pem;\n    ssl_certificate_key " << d << "/server.key;\n";
    c << "    server_name localhost;\n    root " << m_root << ";\n";
    for (const auto& x : m_directives) c << "    " << x << "\n";
    c << "  }\n}\n";
    WriteFile(d + "/nginx.conf", c.str());
}

void NginxServer::Start() {
    if (m_pid > 0) return;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (m_port == 0 || attempt > 0) {
            m_port = FreeLoopbackPort();
            if (m_options.https) m_httpsPort = FreeLoopbackPort();
        }
        WriteConfig();
        const std::string d = m_dir.path();
        const pid_t pid = ::fork();
        if (pid < 0) throw std::runtime_error("fork failed");
        if (pid == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            const int err = ::open((d + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(err, 2);
            const std::string conf = d + "/nginx.conf", prefix = d + "/", elog = d + "/stderr.log";
            const char* nginx = ::access("/usr/sbin/nginx", X_OK) == 0 ? "/usr/sbin/nginx" : "nginx";
            ::execlp(nginx, nginx, "-e", elog.c_str(), "-p", prefix.c_str(), "-c", conf.c_str(), nullptr);
            ::_exit(127);
        }
        m_pid = pid;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool up = false;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            if (WaitForPort(m_port, 20) && (!m_options.https || WaitForPort(m_httpsPort, 20))) {
                up = true;
                break;
            }
        }
        if (up) return;
        Stop();
    }
    throw std::runtime_error("nginx did not start: " + ErrorLog());
}

void NginxServer::Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

}  // namespace orvo::test
