#include "metrics_server.h"

namespace brenvik::cli {

std::unique_ptr<MetricsServer> MetricsServer::Start(const std::string&, std::function<std::string()>,
                                                    std::string& error) {
  error = "--metrics is not available on Windows: a station serves its metrics on Linux";
  return nullptr;
}

}  // namespace brenvik::cli
