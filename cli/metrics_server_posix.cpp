#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <string>
#include <system_error>
#include <vector>
#include <thread>

#include "metrics_server.h"

namespace brenvik::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A scrape is a few hundred bytes of request; a line's Prometheus keeps one connection per
// station, and a few more allow a person's curl beside it.
constexpr size_t kMaxRequest = 8192;
constexpr size_t kMaxConnections = 8;
constexpr auto kConnectionTime = std::chrono::seconds(5);
constexpr int kBacklog = 16;

struct Connection {
  int fd = -1;
  Clock::time_point deadline;
  std::string in, out;
  size_t sent = 0;
  bool answering = false;
};

std::string Response(int status, const char* reason, const std::string& body, bool head, const char* extra = "") {
  std::string r = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  r += status == 200 ? "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                     : "Content-Type: text/plain; charset=utf-8\r\n";
  r += extra;
  r += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  if (!head) r += body;
  return r;
}

class PosixMetricsServer : public MetricsServer {
 public:
  PosixMetricsServer(int listener, int wakeRead, int wakeWrite, std::function<std::string()> render)
      : m_listener(listener), m_wakeRead(wakeRead), m_wakeWrite(wakeWrite), m_render(std::move(render)) {
    m_thread = std::thread([this] { Serve(); });
  }
  ~PosixMetricsServer() override {
    const char byte = 0;
    (void)!write(m_wakeWrite, &byte, 1);
    m_thread.join();
    for (Connection& c : m_connections) close(c.fd);
    close(m_listener);
    close(m_wakeRead);
    close(m_wakeWrite);
  }

 private:
  // Whatever goes wrong in serving (out of memory, or worse) is waited out, never let end the
  // process: the station goes on.
  void Serve() {
    while (true) {
      try {
        if (!ServeOnce()) return;
      } catch (const std::exception&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  }

  // One poll and what it found; false when asked to stop.
  bool ServeOnce() {
    std::vector<pollfd> fds{{m_wakeRead, POLLIN, 0}, {m_listener, POLLIN, 0}};
    // At the limit the listener is not asked: newcomers wait in its backlog.
    if (m_connections.size() >= kMaxConnections) fds[1].events = 0;
    for (const Connection& c : m_connections) fds.push_back({c.fd, short(c.answering ? POLLOUT : POLLIN), 0});
    if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return true;
    }
    if (fds[0].revents) return false;
    if (fds[1].revents & POLLIN) Accept();
    const auto now = Clock::now();
    size_t i = 2;
    for (auto it = m_connections.begin(); it != m_connections.end(); ++i) {
      bool keep = now < it->deadline;
      if (keep && i < fds.size() && fds[i].revents) {
        try {
          keep = Step(*it);
        } catch (const std::exception&) {
          keep = false;  // out of memory, or worse: this connection ends, the station goes on
        }
      }
      if (keep) {
        ++it;
      } else {
        close(it->fd);
        it = m_connections.erase(it);
      }
    }
    return true;
  }

  void Accept() {
    const int fd = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors, or a peer that left at once: nothing to do but go on.
      if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return;
    }
    try {
      m_connections.push_back({fd, Clock::now() + kConnectionTime, {}, {}, 0, false});
    } catch (...) {
      close(fd);
      throw;
    }
  }

  // Reads the request or writes the answer; false when the connection is done with.
  bool Step(Connection& c) {
    if (c.answering) {
      const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
      if (n < 0) return errno == EAGAIN || errno == EINTR;
      c.sent += size_t(n);
      if (c.sent < c.out.size()) return true;
      shutdown(c.fd, SHUT_WR);
      return false;
    }
    char buffer[2048];
    const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    c.in.append(buffer, size_t(n));
    const size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (c.in.size() <= kMaxRequest) return true;
      c.out = Response(431, "Request Header Fields Too Large", "the request is too large\n", false);
    } else if (end + 4 > kMaxRequest) {
      c.out = Response(431, "Request Header Fields Too Large", "the request is too large\n", false);
    } else {
      c.out = Answer(c.in.substr(0, c.in.find("\r\n")));
    }
    c.answering = true;
    return Step(c);
  }

  std::string Answer(const std::string& requestLine) {
    const size_t a = requestLine.find(' ');
    const size_t b = a == std::string::npos ? a : requestLine.find(' ', a + 1);
    if (b == std::string::npos || requestLine.compare(b + 1, 5, "HTTP/") != 0)
      return Response(400, "Bad Request", "not an HTTP request\n", false);
    const std::string method = requestLine.substr(0, a);
    const std::string target = requestLine.substr(a + 1, b - a - 1);
    const bool head = method == "HEAD";
    if (target.substr(0, target.find('?')) != "/metrics")
      return Response(404, "Not Found", "only /metrics is served here\n", head);
    if (method != "GET" && !head)
      return Response(405, "Method Not Allowed", "only GET and HEAD are served\n", false, "Allow: GET, HEAD\r\n");
    return Response(200, "OK", m_render(), head);
  }

  int m_listener, m_wakeRead, m_wakeWrite;
  std::function<std::string()> m_render;
  std::list<Connection> m_connections;
  std::thread m_thread;
};

}  // namespace

std::unique_ptr<MetricsServer> MetricsServer::Start(const std::string& address, std::function<std::string()> render,
                                                    std::string& error) {
  const size_t colon = address.rfind(':');
  std::string host = colon == std::string::npos ? "" : address.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty() || port.empty() || port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5 ||
      std::stoi(port) > 65535) {
    error = "--metrics \"" + address + "\": give HOST:PORT, for example 127.0.0.1:9464";
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int e = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); e != 0) {
    error = "--metrics \"" + address + "\": " + gai_strerror(e);
    return nullptr;
  }
  int listener = -1;
  std::string why;
  for (addrinfo* ai = found; ai && listener < 0; ai = ai->ai_next) {
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) {
      why = std::strerror(errno);
      continue;
    }
    // A restart finds its port free though the last run's connections linger in TIME_WAIT;
    // a port another program listens on is still refused.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, kBacklog) == 0) {
      listener = fd;
    } else {
      why = std::strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (listener < 0) {
    error = "cannot serve metrics on " + address + ": " + why;
    return nullptr;
  }
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) != 0) {
    error = std::string("cannot serve metrics: ") + std::strerror(errno);
    close(listener);
    return nullptr;
  }
  try {
    return std::make_unique<PosixMetricsServer>(listener, wake[0], wake[1], std::move(render));
  } catch (const std::system_error& e) {
    close(listener), close(wake[0]), close(wake[1]);
    error = std::string("cannot serve metrics: ") + e.what();
    return nullptr;
  }
}

}  // namespace brenvik::cli
