// The records in PostgreSQL, which many stations of a line write into at once. A connection
// that dropped (a restarted server, a network gone for a while) is opened again.
#include <libpq-fe.h>

#include <cstring>
#include <memory>

#include "schema.h"
#include "store.h"

namespace brenvik::records {
namespace {

// Any two processes that set up the tables at once wait for each other on this lock.
constexpr long long kSchemaLock = 0x6272656e76696bLL;  // "brenvik"
// Long enough for an import's batch or a summary of millions of runs.
constexpr const char* kStatementTimeout = "2min";

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// The connection is given back on every path, a failed connect too: a writer that tries an
// unusable server again and again must not pile up descriptors.
struct Finish {
  void operator()(PGconn* c) const { PQfinish(c); }
};
using Connection = std::unique_ptr<PGconn, Finish>;

// The staging table holds text: each value is cast to its column's type on the way in.
const char* CastOf(size_t column) {
  switch (kColumns[column].sql) {
    case SqlType::kText: break;
    case SqlType::kInteger: return "::integer";
    case SqlType::kBigint: return "::bigint";
    case SqlType::kDouble: return "::double precision";
  }
  return "";
}

class PostgresStore : public Store {
 public:
  explicit PostgresStore(const DbUrl& url) : m_url(url) {
    Connect();
    // A database of this version is only read here: the lock is for setting it up.
    {
      Result r(PQexec(m_conn, "SELECT MAX(version) FROM schema_version"));
      if (PQresultStatus(r.get()) == PGRES_TUPLES_OK && !PQgetisnull(r.get(), 0, 0) &&
          std::atoi(PQgetvalue(r.get(), 0, 0)) == SchemaVersion())
        return;
    }
    Run("BEGIN", {});
    Run("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")", {});
    Migrate(
        Dialect::kPostgres, [this](const std::string& sql) { Run(sql, {}); },
        [this] {
          Result r = Run("SELECT COALESCE(MAX(version), 0) FROM schema_version", {});
          return std::atoi(PQgetvalue(r.get(), 0, 0));
        });
    Run("COMMIT", {});
  }

  size_t Insert(const std::vector<Row>& rows, const Refused& refused) override {
    if (rows.empty()) return 0;
    // A transaction adds its rows or none: sent again after a dropped connection, it adds
    // only what did not go in.
    try {
      return InsertOrSplit(rows, 0, rows.size(), refused);
    } catch (const StoreError&) {
      if (!Reset()) throw;
    }
    return InsertOrSplit(rows, 0, rows.size(), refused);
  }

  void Select(const Query& query, const std::function<void(const Values&)>& each) override {
    const SelectStatement statement = BuildSelect(query, true);
    const std::string& sql = statement.sql;
    std::vector<const char*> values;
    for (const std::string& p : statement.params) values.push_back(p.c_str());
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
  // One row the server refuses would take the whole transaction with it: a batch that fails so
  // is halved until that row is found, and every other row goes in.
  size_t InsertOrSplit(const std::vector<Row>& rows, size_t first, size_t count, const Refused& refused) {
    try {
      return InsertOnce(rows, first, count);
    } catch (const StoreError&) {
      if (!m_rowFault) throw;
    }
    if (count == 1) {
      if (refused) refused(first, m_reason);
      return 0;
    }
    const size_t half = count / 2;
    return InsertOrSplit(rows, first, half, refused) + InsertOrSplit(rows, first + half, count - half, refused);
  }

  // The rows go to the server by COPY in its binary form: each value is its bytes with their
  // length, never SQL text, and a million rows take seconds rather than minutes. They land in
  // a table of this session and go into runs from there, each run once.
  size_t InsertOnce(const std::vector<Row>& rows, size_t first, size_t count) {
    m_rowFault = false;
    Run("BEGIN", {});
    try {
      std::string columns;
      for (size_t c = 0; c < kColumnCount; ++c) columns += std::string(c ? ", " : "") + ColumnName(c);
      std::string staging = "CREATE TEMP TABLE IF NOT EXISTS runs_in (";
      for (size_t c = 0; c < kColumnCount; ++c) staging += std::string(c ? ", " : "") + ColumnName(c) + " TEXT";
      Run(staging + ") ON COMMIT DELETE ROWS", {});
      Result copy(PQexec(m_conn, ("COPY runs_in (" + columns + ") FROM STDIN (FORMAT binary)").c_str()));
      if (PQresultStatus(copy.get()) != PGRES_COPY_IN) throw StoreError(Failure("took no run", copy.get()));
      std::string data("PGCOPY\n\xff\r\n\0", 11);
      data.append(8, '\0');  // no flags, no header extension
      for (size_t r = first; r < first + count; ++r) {
        const Row& row = rows[r];
        PutBigEndian(data, uint16_t(kColumnCount));
        for (const auto& value : row) {
          PutBigEndian(data, value ? uint32_t(value->size()) : uint32_t(0xFFFFFFFF));  // -1: NULL
          if (value) data += *value;
        }
        if (data.size() > (1 << 20)) Send(data);
      }
      PutBigEndian(data, uint16_t(0xFFFF));
      Send(data);
      if (PQputCopyEnd(m_conn, nullptr) != 1) throw StoreError(Failure("took no run"));
      Result ended(PQgetResult(m_conn));
      while (PGresult* more = PQgetResult(m_conn)) PQclear(more);
      if (!Ok(ended.get())) throw StoreError(Failure("took no run", ended.get()));
      std::string select;
      for (size_t c = 0; c < kColumnCount; ++c) select += std::string(c ? ", " : "") + ColumnName(c) + CastOf(c);
      Result added = Run("INSERT INTO runs (" + columns + ") SELECT " + select +
                             " FROM runs_in ON CONFLICT (run_id) DO NOTHING",
                         {});
      Run("COMMIT", {});
      return size_t(std::strtoull(PQcmdTuples(added.get()), nullptr, 10));
    } catch (...) {
      if (PQstatus(m_conn) == CONNECTION_OK) PQclear(PQexec(m_conn, "ROLLBACK"));
      throw;
    }
  }

  template <typename T>
  static void PutBigEndian(std::string& out, T value) {
    for (int shift = int(sizeof(T) * 8) - 8; shift >= 0; shift -= 8) out += char((value >> shift) & 0xFF);
  }

  void Send(std::string& data) {
    if (PQputCopyData(m_conn, data.data(), int(data.size())) != 1) throw StoreError(Failure("took no run"));
    data.clear();
  }

  void Connect() {
    // Before dbname, what the URL may say otherwise: a server that does not answer is given
    // up on after a while, and one that vanished (a cable, a switch) is noticed in about a
    // minute rather than the system's two hours. After dbname, what it may not: the runs'
    // text is UTF-8, whatever PGCLIENTENCODING says, or another station reads it garbled.
    const char* keys[] = {"connect_timeout", "application_name", "keepalives", "keepalives_idle",
                          "keepalives_interval", "keepalives_count", "dbname", "client_encoding", nullptr};
    const char* values[] = {"10", "brenvik-cli", "1", "30", "10", "3", m_url.target.c_str(), "UTF8", nullptr};
    m_holder.reset(PQconnectdbParams(keys, values, 1));
    m_conn = m_holder.get();
    if (!m_conn) throw StoreError("the database " + m_url.shown + " cannot be reached: out of memory");
    // The server's notices (a table already there) are not the user's business.
    PQsetNoticeProcessor(m_conn, [](void*, const char*) {}, nullptr);
    if (PQstatus(m_conn) != CONNECTION_OK) throw StoreError(Failure("cannot be reached"));
    BoundStatements();
  }

  // A statement held up on a lock (a table locked by hand, a stuck transaction) ends with an
  // error rather than holding a station's writer for ever; a time-out the server, the role
  // or the URL set is kept.
  void BoundStatements() {
    Result shown(PQexec(m_conn, "SHOW statement_timeout"));
    if (PQresultStatus(shown.get()) != PGRES_TUPLES_OK) throw StoreError(Failure("cannot be used", shown.get()));
    if (std::string(PQgetvalue(shown.get(), 0, 0)) == "0")
      Run("SET statement_timeout = '" + std::string(kStatementTimeout) + "'", {});
  }

  bool Reset() {
    if (PQstatus(m_conn) == CONNECTION_OK) return false;
    PQreset(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK) return false;
    BoundStatements();
    return true;
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
    // Bad data (class 22), a rule of the table (23), a value past a limit such as an index
    // entry's size (54): the row's own fault, which no retry mends.
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    m_rowFault = state && PQstatus(m_conn) == CONNECTION_OK &&
                 (std::strncmp(state, "22", 2) == 0 || std::strncmp(state, "23", 2) == 0 || std::strncmp(state, "54", 2) == 0);
    m_reason = m_url.Scrub(why);
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

  DbUrl m_url;
  // What the last failure was: the row's own fault, and why, in the server's words.
  mutable bool m_rowFault = false;
  mutable std::string m_reason;
  Connection m_holder;
  PGconn* m_conn = nullptr;  // m_holder's, for the many calls that take it
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const DbUrl& url) { return std::make_unique<PostgresStore>(url); }

}  // namespace brenvik::records
