// The records in an SQLite file: several processes may write it at once (WAL, and a busy
// timeout rather than an error when another holds the lock).
#include <sqlite3.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <memory>

#include "schema.h"
#include "store.h"

namespace brenvik::records {
namespace {

constexpr int kBusyTimeoutMs = 10000;
// Pages the log of changes may grow to before they go into the file: an import of many runs
// then writes each page of its indexes once per batch, not once per few rows.
constexpr int kCheckpointPages = 16384;

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql, const std::string& where) {
    if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &m_stmt, nullptr) != SQLITE_OK)
      throw StoreError(where + ": " + sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return m_stmt; }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

// An existing file must be an SQLite database (or empty): anything else is never written. A
// missing one is made only by a writer.
void CheckFile(const std::string& path, const std::string& shown, Access access) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT || access == Access::kRead)
      throw StoreError("the database " + shown + " cannot be opened: " + std::strerror(errno));
    return;
  }
  if (!S_ISREG(st.st_mode)) throw StoreError("the database " + shown + " is not a file");
  if (st.st_size == 0) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw StoreError("the database " + shown + " cannot be read: " + std::strerror(errno));
  char head[16] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n != ssize_t(sizeof head) || std::memcmp(head, "SQLite format 3", 16) != 0)
    throw StoreError("the database " + shown + " is no SQLite database: it is left as it is");
}

// A fault of the row itself, which no retry mends (a rule of the database, a value too big):
// anything else (busy, full, I/O) is the database's.
bool IsRowFault(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG;
}

// The connection is given back on every path, a failed open too: a writer that tries a bad
// file again and again must not pile up descriptors.
struct Close {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, Close>;

class SqliteStore : public Store {
 public:
  SqliteStore(const DbUrl& url, Access access) : m_shown(url.shown) {
    CheckFile(url.target, m_shown, access);
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
    if (access == Access::kWrite) {
      // The default file's folder is made on first use.
      const std::filesystem::path parent = std::filesystem::path(url.target).parent_path();
      std::error_code ignored;
      if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
      flags |= SQLITE_OPEN_CREATE;
    }
    sqlite3* opened = nullptr;
    const int rc = sqlite3_open_v2(url.target.c_str(), &opened, flags, nullptr);
    m_conn.reset(opened);
    m_db = opened;
    if (rc != SQLITE_OK)
      throw StoreError("the database " + m_shown + " cannot be opened: " + (m_db ? sqlite3_errmsg(m_db) : "out of memory"));
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");  // with WAL: safe against a crash of the program
    // Runs come in id order, which is random: the indexes' pages are wanted all over.
    Exec("PRAGMA cache_size=-65536");
    Exec("PRAGMA wal_autocheckpoint=" + std::to_string(kCheckpointPages));
    // A database of this version is only read here: the write lock is for setting it up.
    if (CurrentVersion() != SchemaVersion()) {
      InTransaction([this] {
        Migrate(
            Dialect::kSqlite, [this](const std::string& sql) { Exec(sql); },
            [this] {
              int version = 0;
              Select1("SELECT COALESCE(MAX(version), 0) FROM schema_version", version);
              return version;
            });
      });
    }
    // An import that was stopped before it built its indexes left them to the next writer.
    if (access == Access::kWrite && MissingIndexes()) BuildIndexes();
  }

  void BeginImport() override {
    // Into a new file, rows go in faster without the indexes, which are then built once by
    // sorting; into a file that holds runs, the indexes stay.
    InTransaction([this] {
      int any = 0;
      Select1("SELECT EXISTS (SELECT 1 FROM runs)", any);
      if (any) return;
      for (const IndexDefinition& index : CurrentIndexes(Dialect::kSqlite)) Exec("DROP INDEX IF EXISTS " + index.name);
      m_indexesPutOff = true;
    });
  }

  void EndImport() override {
    if (!m_indexesPutOff) return;
    m_indexesPutOff = false;
    BuildIndexes();
  }

  size_t Insert(const std::vector<Row>& rows, const Refused& refused) override {
    std::string sql = "INSERT INTO runs (";
    for (size_t c = 0; c < kColumnCount; ++c) sql += std::string(c ? ", " : "") + ColumnName(c);
    sql += ") VALUES (";
    for (size_t c = 0; c < kColumnCount; ++c) sql += c ? ", ?" : "?";
    sql += ") ON CONFLICT (run_id) DO NOTHING";
    Exec("BEGIN IMMEDIATE");
    size_t added = 0;
    try {
      Statement insert(m_db, sql, Where("cannot take runs"));
      for (size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        sqlite3_reset(insert.get());
        for (size_t c = 0; c < kColumnCount; ++c) {
          if (row[c])
            sqlite3_bind_text(insert.get(), int(c + 1), row[c]->data(), int(row[c]->size()), SQLITE_STATIC);
          else
            sqlite3_bind_null(insert.get(), int(c + 1));
        }
        const int rc = sqlite3_step(insert.get());
        if (rc == SQLITE_DONE) {
          added += size_t(sqlite3_changes(m_db));
        } else if (IsRowFault(rc)) {
          // Only this row's statement is undone: the rest of the batch goes in.
          if (refused) refused(r, sqlite3_errmsg(m_db));
        } else {
          throw StoreError(Where("took no run") + ": " + sqlite3_errmsg(m_db));
        }
      }
      Exec("COMMIT");
    } catch (...) {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    return added;
  }

  void Select(const Query& query, const std::function<void(const Values&)>& each) override {
    const SelectStatement statement = BuildSelect(query, false);
    const std::vector<std::string>& params = statement.params;
    Statement select(m_db, statement.sql, Where("cannot be asked"));
    for (size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(select.get(), int(i + 1), params[i].data(), int(params[i].size()), SQLITE_STATIC);
    const int n = sqlite3_column_count(select.get());
    Values values(static_cast<size_t>(n));
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
      for (int i = 0; i < n; ++i) {
        if (sqlite3_column_type(select.get(), i) == SQLITE_FLOAT) {
          // The shortest text that reads back as the same double: SQLite's own printf is a
          // fifth of a summary's time over a million runs.
          char number[32];
          const auto end = std::to_chars(number, number + sizeof number, sqlite3_column_double(select.get(), i)).ptr;
          values[size_t(i)] = std::string(number, end);
          continue;
        }
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), i));
        if (text)
          values[size_t(i)] = std::string(text, size_t(sqlite3_column_bytes(select.get(), i)));
        else
          values[size_t(i)].reset();
      }
      each(values);
    }
    if (rc != SQLITE_DONE) throw StoreError(Where("cannot be read") + ": " + sqlite3_errmsg(m_db));
  }

 private:
  std::string Where(const std::string& what) const { return "the database " + m_shown + " " + what; }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string why = error ? error : sqlite3_errmsg(m_db);
      sqlite3_free(error);
      throw StoreError(Where("cannot be used") + ": " + why);
    }
  }

  template <typename Work>
  void InTransaction(const Work& work) {
    Exec("BEGIN IMMEDIATE");
    try {
      work();
      Exec("COMMIT");
    } catch (...) {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  bool MissingIndexes() {
    for (const IndexDefinition& index : CurrentIndexes(Dialect::kSqlite)) {
      Statement s(m_db, "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?", Where("cannot be read"));
      sqlite3_bind_text(s.get(), 1, index.name.data(), int(index.name.size()), SQLITE_STATIC);
      if (sqlite3_step(s.get()) != SQLITE_ROW) return true;
    }
    return false;
  }

  void BuildIndexes() {
    InTransaction([this] {
      for (const IndexDefinition& index : CurrentIndexes(Dialect::kSqlite)) Exec(index.create);
    });
  }

  int CurrentVersion() {
    sqlite3_stmt* s = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(m_db, "SELECT MAX(version) FROM schema_version", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      version = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    return version;
  }

  void Select1(const std::string& sql, int& value) {
    Statement s(m_db, sql, Where("cannot be read"));
    if (sqlite3_step(s.get()) == SQLITE_ROW) value = sqlite3_column_int(s.get(), 0);
  }

  std::string m_shown;
  bool m_indexesPutOff = false;  // dropped by BeginImport, to be built by EndImport
  Connection m_conn;
  sqlite3* m_db = nullptr;  // m_conn's, for the many calls that take it
};

}  // namespace

std::unique_ptr<Store> OpenSqliteStore(const DbUrl& url, Access access) {
  return std::make_unique<SqliteStore>(url, access);
}

}  // namespace brenvik::records
