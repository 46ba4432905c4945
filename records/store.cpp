#include "store.h"

#include "schema.h"

namespace brenvik::records {
namespace {

const char* Operator(Compare compare) {
  switch (compare) {
    case Compare::kEqual: return " = ";
    case Compare::kAtLeast: return " >= ";
    case Compare::kBelow: return " < ";
  }
  return " = ";
}

}  // namespace

SelectStatement BuildSelect(const Query& query, bool numbered) {
  SelectStatement s;
  s.sql = "SELECT ";
  for (size_t i = 0; i < query.columns.size(); ++i) s.sql += std::string(i ? ", " : "") + ColumnName(query.columns[i]);
  s.sql += " FROM runs";
  for (const Condition& c : query.where) {
    s.params.push_back(c.value);
    const std::string placeholder = numbered ? "$" + std::to_string(s.params.size()) : "?";
    s.sql += s.params.size() == 1 ? " WHERE " : " AND ";
    if (c.compare == Compare::kEqual && IndexedByHead(numbered ? Dialect::kPostgres : Dialect::kSqlite, c.column))
      s.sql += HeadOf(ColumnName(c.column)) + " = " + HeadOf(placeholder) + " AND ";
    s.sql += std::string(ColumnName(c.column)) + Operator(c.compare) + placeholder;
  }
  if (query.oldestFirst) s.sql += " ORDER BY time, run_id";
  return s;
}

std::unique_ptr<Store> OpenStore(const DbUrl& url, Access access) {
  return url.kind == DbUrl::Kind::kPostgres ? OpenPostgresStore(url) : OpenSqliteStore(url, access);
}

}  // namespace brenvik::records
