// The records' database behind one small interface: SQLite on a bench, PostgreSQL for a line.
// Rows and questions cross it typed; each store writes its own SQL, and every value goes in
// as a bound parameter.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "db_url.h"
#include "query.h"
#include "run_row.h"

namespace brenvik::records {

// What went wrong, already fit to be shown: a password of the URL is "***" in it.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Values = std::vector<std::optional<std::string>>;

// A question of the runs: these columns of the runs that meet `where`.
struct Query {
  std::vector<Column> columns;
  Where where;
  bool oldestFirst = false;  // by time, then run_id
};

// The SELECT of a query, its values apart in their order. Placeholders are numbered as they are
// written: "$1", "$2", ... for PostgreSQL (`numbered`), "?" for SQLite.
struct SelectStatement {
  std::string sql;
  std::vector<std::string> params;
};
SelectStatement BuildSelect(const Query& query, bool numbered);

// A row the database would not take (a rule of its own, a value out of its range): its index
// in the batch and the database's reason.
using Refused = std::function<void(size_t index, const std::string& why)>;

class Store {
 public:
  virtual ~Store() = default;
  // Adds, in one transaction, the rows whose run_id is not there yet; gives how many were new.
  // A row the database refuses is left out and handed to `refused`; the others go in.
  virtual size_t Insert(const std::vector<Row>& rows, const Refused& refused) = 0;
  size_t Insert(const std::vector<Row>& rows) { return Insert(rows, {}); }
  // Around an import of many runs: a store may put work off to its end (SQLite builds the
  // indexes of a new file once, after its rows, rather than row by row). EndImport is called
  // on every path; an index it could not build is built by the next writer that opens.
  virtual void BeginImport() {}
  virtual void EndImport() {}
  // Each row that answers `query` is handed to `each`, its columns in the query's order, as
  // text (NULL as nothing).
  virtual void Select(const Query& query, const std::function<void(const Values&)>& each) = 0;
};

// What the database is opened for. Only a writer creates an SQLite file (and its folder): a
// read of a file that is not there would answer "never flashed".
enum class Access { kWrite, kRead };

// Opens the database, creating its tables (or bringing them up to this version) on first use.
std::unique_ptr<Store> OpenStore(const DbUrl& url, Access access = Access::kWrite);

std::unique_ptr<Store> OpenSqliteStore(const DbUrl& url, Access access);
std::unique_ptr<Store> OpenPostgresStore(const DbUrl& url);

}  // namespace brenvik::records
