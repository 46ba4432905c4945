// The records in PostgreSQL, which many stations of a line write into at once. A connection
// that dropped (a restarted server, a network gone for a while) is opened again.
#include <libpq-fe.h>

#include <memory>

#include "schema.h"
#include "store.h"

namespace brenvik::records {
namespace {

// Rows per INSERT: many at once is what makes an import fast, and PostgreSQL takes at most
// 65535 parameters in a statement.
constexpr size_t kRowsPerStatement = 1000;
// Any two processes that set up the tables at once wait for each other on this lock.
constexpr long long kSchemaLock = 0x6272656e76696bLL;  // "brenvik"

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

bool Typed(size_t column) {
  return column == kSize || column == kKind || column == kBytesSent || column == kSeconds || column == kAverageRate;
}
const char* CastOf(size_t column) {
  if (column == kSeconds) return "::double precision";
  if (column == kKind) return "::integer";
  return Typed(column) ? "::bigint" : "";
}

// "?" as PostgreSQL numbers its parameters.
std::string Numbered(const std::string& sql) {
  std::string out;
  int n = 0;
  for (char c : sql) {
    if (c == '?')
      out += "$" + std::to_string(++n);
    else
      out += c;
  }
  return out;
}

class PostgresStore : public Store {
 public:
  explicit PostgresStore(const DbUrl& url) : m_url(url) {
    Connect();
    try {
      Run("BEGIN", {});
      Run("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")", {});
      Migrate(
          Dialect::kPostgres, [this](const std::string& sql) { Run(sql, {}); },
          [this] {
            Result r = Run("SELECT COALESCE(MAX(version), 0) FROM schema_version", {});
            return std::atoi(PQgetvalue(r.get(), 0, 0));
          });
      Run("COMMIT", {});
    } catch (...) {
      PQfinish(m_conn);
      throw;
    }
  }
  ~PostgresStore() override { PQfinish(m_conn); }

  size_t Insert(const std::vector<Row>& rows) override {
    size_t added = 0;
    // Each statement adds its rows or none; a batch sent again after a dropped connection
    // adds only what did not go in.
    for (size_t from = 0; from < rows.size(); from += kRowsPerStatement) {
      const size_t n = std::min(kRowsPerStatement, rows.size() - from);
      std::string sql = "INSERT INTO runs (";
      for (size_t c = 0; c < kColumnCount; ++c) sql += std::string(c ? ", " : "") + kColumnNames[c];
      sql += ") VALUES ";
      std::vector<const char*> params;
      params.reserve(n * kColumnCount);
      int p = 0;
      for (size_t i = 0; i < n; ++i) {
        sql += i ? ", (" : "(";
        for (size_t c = 0; c < kColumnCount; ++c) {
          sql += (c ? ", $" : "$") + std::to_string(++p) + CastOf(c);
          params.push_back(rows[from + i][c] ? rows[from + i][c]->c_str() : nullptr);
        }
        sql += ")";
      }
      sql += " ON CONFLICT (run_id) DO NOTHING";
      Result r = RunAgainOnce(sql, params);
      added += size_t(std::strtoull(PQcmdTuples(r.get()), nullptr, 10));
    }
    return added;
  }

  void Select(const std::string& columns, const std::string& tail, const std::vector<std::string>& params,
              const std::function<void(const Values&)>& each) override {
    const std::string sql = Numbered("SELECT " + columns + " FROM runs " + tail);
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    for (int attempt = 0;; ++attempt) {
      if (PQsendQueryParams(m_conn, sql.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0) &&
          PQsetSingleRowMode(m_conn))
        break;
      if (attempt > 0 || !Reset()) throw StoreError(Failure("cannot be asked"));
    }
    // Row by row: a summary over millions of runs holds only what it needs.
    std::string error;
    Values row;
    while (PGresult* raw = PQgetResult(m_conn)) {
      Result r(raw);
      const ExecStatusType status = PQresultStatus(r.get());
      if (status == PGRES_SINGLE_TUPLE) {
        const int n = PQnfields(r.get());
        row.assign(size_t(n), std::nullopt);
        for (int i = 0; i < n; ++i)
          if (!PQgetisnull(r.get(), 0, i))
            row[size_t(i)] = std::string(PQgetvalue(r.get(), 0, i), size_t(PQgetlength(r.get(), 0, i)));
        if (error.empty()) each(row);
      } else if (status != PGRES_TUPLES_OK && error.empty()) {
        error = Failure("cannot be read", r.get());
      }
    }
    if (!error.empty()) throw StoreError(error);
  }

 private:
  void Connect() {
    // A server that does not answer is given up on after a while; the URL may say otherwise.
    const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "brenvik-cli", m_url.target.c_str(), nullptr};
    m_conn = PQconnectdbParams(keys, values, 1);
    if (!m_conn) throw StoreError("the database " + m_url.shown + " cannot be reached: out of memory");
    // The server's notices (a table already there) are not the user's business.
    PQsetNoticeProcessor(m_conn, [](void*, const char*) {}, nullptr);
    if (PQstatus(m_conn) != CONNECTION_OK) {
      const std::string why = Failure("cannot be reached");
      PQfinish(m_conn);
      m_conn = nullptr;
      throw StoreError(why);
    }
  }

  bool Reset() {
    if (PQstatus(m_conn) == CONNECTION_OK) return false;
    PQreset(m_conn);
    return PQstatus(m_conn) == CONNECTION_OK;
  }

  std::string Failure(const std::string& what, const PGresult* r = nullptr) const {
    std::string why = r ? PQresultErrorMessage(r) : "";
    if (why.empty() && m_conn) why = PQerrorMessage(m_conn);
    // libpq's messages run over lines (a hint on the next, indented): one line here.
    std::string line;
    for (char c : why) {
      const bool blank = c == '\n' || c == '\t' || c == '\r' || c == ' ';
      if (!blank || (!line.empty() && line.back() != ' ')) line += blank ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    why = line;
    return m_url.Scrub("the database " + m_url.shown + " " + what + ": " + why);
  }

  Result Exec(const std::string& sql, const std::vector<const char*>& params) {
    return Result(PQexecParams(m_conn, sql.c_str(), int(params.size()), nullptr, params.data(), nullptr, nullptr, 0));
  }

  static bool Ok(const PGresult* r) {
    const ExecStatusType s = PQresultStatus(r);
    return r && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
  }

  Result Run(const std::string& sql, const std::vector<const char*>& params) {
    Result r = Exec(sql, params);
    if (!Ok(r.get())) throw StoreError(Failure("cannot be used", r.get()));
    return r;
  }

  // A statement that may be sent twice: when the connection dropped, it is opened again and
  // the statement sent once more.
  Result RunAgainOnce(const std::string& sql, const std::vector<const char*>& params) {
    Result r = Exec(sql, params);
    if (!Ok(r.get()) && Reset()) r = Exec(sql, params);
    if (!Ok(r.get())) throw StoreError(Failure("took no run", r.get()));
    return r;
  }

  DbUrl m_url;
  PGconn* m_conn = nullptr;
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const DbUrl& url) { return std::make_unique<PostgresStore>(url); }

}  // namespace brenvik::records
