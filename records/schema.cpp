#include "schema.h"

#include <algorithm>

#include "columns.h"

namespace brenvik::records {
namespace {

std::string TypeOf(Dialect dialect, SqlType type) {
  switch (type) {
    // Text in PostgreSQL compares byte by byte ("C"), as in SQLite: the prefix searches are
    // ranges on an index, and the same in both.
    case SqlType::kText: return dialect == Dialect::kPostgres ? "TEXT COLLATE \"C\"" : "TEXT";
    case SqlType::kInteger: return "INTEGER";
    case SqlType::kBigint: return "BIGINT";
    case SqlType::kDouble: return "DOUBLE PRECISION";
  }
  return "TEXT";
}

std::string Definition(Dialect dialect, const ColumnDefinition& c) {
  return std::string(" ") + c.name + " " + TypeOf(dialect, c.sql) +
         (c.primaryKey ? " PRIMARY KEY" : c.required ? " NOT NULL" : "");
}

// The columns that version `version` added, as its step adds them.
std::vector<std::string> AddedColumns(Dialect dialect, int version) {
  std::vector<std::string> added;
  for (const ColumnDefinition& c : kColumns)
    if (c.since == version) added.push_back("ALTER TABLE runs ADD COLUMN" + Definition(dialect, c));
  return added;
}

}  // namespace

// The indexes and changes of each version, after its columns, for SQLite and for PostgreSQL:
// the first is version 1's. A new version adds its columns in columns.cpp (with `since` that
// version) and any index as a new entry here, never a change to one before it: a database at
// version 1 runs only step 2.
struct Changes {
  std::vector<std::string> sqlite, postgres;
};

const std::vector<std::string> kFirstIndexes = {
    "CREATE INDEX runs_time ON runs (time)",
    "CREATE INDEX runs_usb_serial ON runs (usb_serial)",
    "CREATE INDEX runs_sha256 ON runs (sha256)",
    "CREATE INDEX runs_image ON runs (image)",
    "CREATE INDEX runs_station_time ON runs (station, time)",
    "CREATE INDEX runs_device ON runs (device)",
    "CREATE INDEX runs_usb_port ON runs (usb_port)",
};

// Version 2: times in one form, so that the text sorts as time (a time the calendar has not
// is left as it was); and in PostgreSQL, paths (found only whole) indexed by their head, since
// a B-tree refuses an entry of more than about 2.7 kB. (A hash index takes any length, but a
// few images and devices over a million runs make its chains long and every insert slow.)
const char* const kTimeFormSqlite =
    "UPDATE runs SET time = strftime('%Y-%m-%dT%H:%M:%fZ', time) WHERE length(time) <> 24 "
    "AND strftime('%Y-%m-%dT%H:%M:%fZ', time) IS NOT NULL";
const char* const kTimeFormPostgres =
    "DO $$ DECLARE r record; BEGIN "
    "FOR r IN SELECT run_id, time FROM runs WHERE length(time) <> 24 LOOP "
    "BEGIN UPDATE runs SET time = to_char(r.time::timestamptz AT TIME ZONE 'UTC', "
    "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') WHERE run_id = r.run_id; "
    "EXCEPTION WHEN others THEN NULL; END; END LOOP; END $$";

namespace {

std::string HeadIndex(const char* name, Column column) {
  return std::string("CREATE INDEX ") + name + " ON runs ((" + HeadOf(ColumnName(column)) + "))";
}

}  // namespace

const std::vector<Changes> kChanges = {
    {kFirstIndexes, kFirstIndexes},
    {{kTimeFormSqlite},
     {kTimeFormPostgres, "DROP INDEX runs_image", HeadIndex("runs_image", kImage), "DROP INDEX runs_device",
      HeadIndex("runs_device", kDevice)}},
};

int SchemaVersion() {
  int version = int(kChanges.size());
  for (const ColumnDefinition& c : kColumns) version = std::max(version, c.since);
  return version;
}

std::vector<std::string> SchemaStep(Dialect dialect, int from) {
  const int version = from + 1;
  std::vector<std::string> step;
  if (version == 1) {
    std::string table = "CREATE TABLE runs (";
    bool first = true;
    for (const ColumnDefinition& c : kColumns) {
      if (c.since != 1) continue;
      table += (first ? "" : ",") + Definition(dialect, c);
      first = false;
    }
    step.push_back(table + ")");
  } else {
    step = AddedColumns(dialect, version);
  }
  if (version >= 1 && size_t(version) <= kChanges.size()) {
    const Changes& changes = kChanges[size_t(version) - 1];
    const auto& mine = dialect == Dialect::kPostgres ? changes.postgres : changes.sqlite;
    step.insert(step.end(), mine.begin(), mine.end());
  }
  return step;
}

std::vector<IndexDefinition> CurrentIndexes(Dialect dialect) {
  std::vector<IndexDefinition> indexes;
  const std::string create = "CREATE INDEX ", drop = "DROP INDEX ";
  for (int from = 0; from < SchemaVersion(); ++from)
    for (const std::string& statement : SchemaStep(dialect, from)) {
      if (statement.starts_with(create)) {
        const std::string name = statement.substr(create.size(), statement.find(' ', create.size()) - create.size());
        indexes.push_back({name, create + "IF NOT EXISTS " + statement.substr(create.size())});
      } else if (statement.starts_with(drop)) {
        std::erase_if(indexes, [&](const IndexDefinition& i) { return i.name == statement.substr(drop.size()); });
      }
    }
  return indexes;
}

}  // namespace brenvik::records

#include "store.h"

namespace brenvik::records {

void Migrate(Dialect dialect, const std::function<void(const std::string&)>& exec, const std::function<int()>& version) {
  exec(std::string("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied ") +
       (dialect == Dialect::kPostgres ? "TEXT COLLATE \"C\"" : "TEXT") + " NOT NULL)");
  int at = version();
  if (at > SchemaVersion())
    throw StoreError("the database's records are of version " + std::to_string(at) +
                     ", newer than this brenvik-cli knows (" + std::to_string(SchemaVersion()) +
                     "): use a newer brenvik-cli");
  for (; at < SchemaVersion(); ++at) {
    for (const std::string& statement : SchemaStep(dialect, at)) exec(statement);
    exec("INSERT INTO schema_version (version, applied) VALUES (" + std::to_string(at + 1) +
         ", " + (dialect == Dialect::kPostgres ? "to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')"
                                                 : "strftime('%Y-%m-%dT%H:%M:%SZ', 'now')") + ")");
  }
}

}  // namespace brenvik::records
