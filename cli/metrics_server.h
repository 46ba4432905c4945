// The station's metrics over HTTP: GET (or HEAD) /metrics and nothing else, from a thread of
// its own. Every limit is fixed: a request's size, the time a connection may take, the number
// of connections at once. A scraper that is slow or stuck only holds its own connection, and
// a fault in serving ends that connection, never the station.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace brenvik::cli {

class MetricsServer {
 public:
  // Listens on "HOST:PORT" ("127.0.0.1:9464", "[::1]:9464") and serves what `render` gives.
  // Nothing, with `error` saying why, when it cannot: an address not understood, a port in
  // use, or a system without the server (Windows).
  static std::unique_ptr<MetricsServer> Start(const std::string& address, std::function<std::string()> render,
                                              std::string& error);
  virtual ~MetricsServer() = default;
};

}  // namespace brenvik::cli
