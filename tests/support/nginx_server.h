// A real nginx for tests: started on a free loopback port with a generated configuration, a
// document root in a temporary folder, optionally HTTPS with a throw-away CA, and stopped on
// destruction. It runs as the current user with every temporary path inside its folder.
//
//   NginxServer web;                          // started
//   WriteFile(web.Root() + "/a.bin", "...");
//   web.AddRedirect("/old", "/a.bin");        // restarts with the new configuration
//   GetFileFromURL(web.Url("/old"), ...);
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace orvo::test {

class NginxServer {
public:
    struct Options {
        bool https = false;
        // Names the server certificate is issued for.
        std::string certNames = "IP:127.0.0.1,DNS:localhost";
        // Log every request to AccessLog() as "<connection> <status> <method> <uri> <range>
        // <body bytes sent>" (the connection's serial number tells connections apart).
        bool accessLog = false;
    };

    NginxServer();
    explicit NginxServer(const Options& options);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    const std::string& Root() const { return m_root; }
    uint16_t Port() const { return m_port; }
    uint16_t HttpsPort() const { return m_httpsPort; }
    // "http://127.0.0.1:<port>" + path (path starts with '/').
    std::string Url(const std::string& path) const;
    std::string HttpsUrl(const std::string& path) const;
    // The throw-away CA that issued the server certificate (HTTPS only).
    const std::string& CaFile() const { return m_caFile; }

    // Configuration changes restart the server on the same ports.
    // A redirect from an exact path to a path or URL.
    void AddRedirect(const std::string& fromPath, const std::string& to, int code = 302);
    // Raw directives inside the server block, e.g. "location = /x { return 500; }".
    void AddDirectives(const std::string& directives);

    void Start();
    void Stop();
    std::string ErrorLog() const;
    std::string AccessLog() const;

private:
    void WriteConfig() const;
    void MakeCertificates();

    Options m_options;
    TempDir m_dir;
    std::string m_root;
    std::string m_caFile;
    uint16_t m_port = 0;
    uint16_t m_httpsPort = 0;
    pid_t m_pid = -1;
    std::vector<std::string> m_directives;
};

// One line of the access log of Options::accessLog.
struct AccessLogLine {
    std::string connection, status, method, uri, range;  // range as logged, quotes included
    uint64_t bytes = 0;                                    // body bytes sent
};
std::vector<AccessLogLine> ParseAccessLog(const std::string& text);

// A free TCP port on 127.0.0.1 (free when asked; take it soon).
uint16_t FreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:port.
bool WaitForPort(uint16_t port, int timeoutMs);

// A file of the given size whose bytes depend on their offset, written quickly: sparse, with a
// 16-byte offset stamp every 64 KiB (and at both ends), so misplaced or lost blocks show.
void MakePatternFile(const std::string& path, uint64_t size);
// True when both files have the same size and bytes.
bool SameFileContent(const std::string& a, const std::string& b);

}  // namespace orvo::test
