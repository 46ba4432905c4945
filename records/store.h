// The records' database behind one small interface: SQLite on a bench, PostgreSQL for a line.
// Every value goes in as a bound parameter; SQL text holds only "?" where values go.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "db_url.h"
#include "run_row.h"

namespace brenvik::records {

// What went wrong, already fit to be shown: a password of the URL is "***" in it.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Values = std::vector<std::optional<std::string>>;

class Store {
 public:
  virtual ~Store() = default;
  // Adds, in one transaction, the rows whose run_id is not there yet; gives how many were new.
  virtual size_t Insert(const std::vector<Row>& rows) = 0;
  // SELECT `columns` FROM runs `tail`, where `tail` takes `params` at its "?" in order; each
  // result row is handed to `each` as text (NULL as nothing).
  virtual void Select(const std::string& columns, const std::string& tail, const std::vector<std::string>& params,
                      const std::function<void(const Values&)>& each) = 0;
};

// Opens the database, creating its tables (or bringing them up to this version) on first use.
std::unique_ptr<Store> OpenStore(const DbUrl& url);

std::unique_ptr<Store> OpenSqliteStore(const DbUrl& url);
std::unique_ptr<Store> OpenPostgresStore(const DbUrl& url);

}  // namespace brenvik::records
