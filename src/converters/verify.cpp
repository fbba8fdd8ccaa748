#include "converters/verify.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

#include "base/text.h"
#include "config/condition_file.h"
#include "converters/core_task_flows.h"
#include "converters/flow_support.h"
#include "converters/workbench.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_fields.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "jet/database.h"
#include "jet/values.h"
#include "source_common/access_names.h"
#include "source_common/row_copy.h"

namespace tabulon::converters {

namespace {

using source_common::SourceTable;

constexpr size_t kShownCharacters = 40;

// A value as a difference line shows it: NULL, text in quotes (cut, with its length, when long),
// bytes as 0x..., everything else in its canonical text.
std::string ShowValue(const jet::Value& value) {
  if (std::holds_alternative<jet::Null>(value)) return "NULL";
  std::string text = jet::FormatValue(value).value_or("");
  const bool is_text = std::holds_alternative<std::string>(value);
  if (std::holds_alternative<jet::Bytes>(value)) text = "0x" + text;
  const size_t length = text.size();
  if (length > kShownCharacters) {
    size_t cut = kShownCharacters;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // a whole character
    text = text.substr(0, cut) + "...";
  }
  if (is_text) text = "'" + text + "'";
  if (length > kShownCharacters) {
    text += " (" + std::to_string(is_text ? length : (length - 2) / 2) + " bytes)";
  }
  return text;
}

std::string ShowKey(const jet::Row& row, const std::vector<size_t>& columns) {
  std::string text = "(";
  for (size_t k = 0; k < columns.size(); ++k) {
    if (k > 0) text += ", ";
    text += ShowValue(row[columns[k]]);
  }
  return text + ")";
}

// The exact text of some values of a row, one apart from another: what the key index holds.
std::string ExactKey(const jet::Row& row, const std::vector<size_t>& columns) {
  std::string key;
  for (size_t c : columns) {
    const jet::Value& value = row[c];
    key += static_cast<char>('A' + value.index());
    key += jet::FormatValue(value).value_or("");
    key += '\x1f';
  }
  return key;
}

uint64_t Hash(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

class TableComparison {
 public:
  explicit TableComparison(TableVerification& result) : result_(result) {}

  void Note(VerifyDifference difference) {
    if (result_.first.size() < kShownDifferences) result_.first.push_back(std::move(difference));
  }
  void Missing(std::string key) {
    ++result_.missing;
    Note({VerifyDifference::Kind::kMissing, std::move(key), {}, {}, {}});
  }

 private:
  TableVerification& result_;
};

// The columns of the table the migration notes as not held exactly, by their Access names in
// lower case; the translation is read again for its notes alone (nothing is written or run).
std::set<std::string> InexactColumns(const source_common::SourceContext& owner,
                                     const source_common::SourceAdapter& adapter, data::Session* source,
                                     std::string_view database, const SourceTable& table) {
  std::vector<source_common::ColumnNote> notes;
  source_common::SourceContext quiet = owner;
  quiet.output = nullptr;
  quiet.renamed = nullptr;
  quiet.column_noted = [&notes](const source_common::ColumnNote& note) { notes.push_back(note); };
  (void)adapter.TranslateTableDefinition(quiet, source, database, table);
  std::set<std::string> columns;
  for (const source_common::ColumnNote& note : notes) {
    if (!note.changes_values) continue;
    columns.insert(AsciiLower(source_common::AccessColumnName(owner, table, note.column)));
  }
  return columns;
}

}  // namespace

TableVerification VerifyTable(const source_common::SourceContext& owner, const source_common::SourceAdapter& adapter,
                              data::Session* source, std::string_view database, const SourceTable& table,
                              jet::Database& target) {
  TableVerification result;
  result.table = table.name;
  result.access_table = source_common::AccessTableName(owner, table);
  const auto fail = [&result](std::string why) {
    result.error = std::move(why);
    return result;
  };
  Result<jet::TableDefinition> found = target.GetTable(result.access_table);
  if (!found.ok()) return fail("the file has no table [" + result.access_table + "]");
  const jet::TableDefinition& definition = *found;
  const std::vector<jet::ColumnDefinition>& columns = definition.columns;

  // The key: the primary key's columns by their place in the row.
  std::vector<size_t> key;
  for (const jet::IndexDefinition& index : definition.indexes) {
    if (index.index_type != 0x01) continue;
    for (const jet::IndexColumn& c : index.columns) {
      for (size_t k = 0; k < columns.size(); ++k) {
        if (columns[k].number == c.column_number) key.push_back(k);
      }
    }
    break;
  }
  result.keyed = !key.empty();
  std::vector<size_t> all(columns.size());
  for (size_t k = 0; k < all.size(); ++k) all[k] = k;

  const std::set<std::string> inexact_columns = InexactColumns(owner, adapter, source, database, table);
  std::vector<bool> inexact(columns.size()), dates(columns.size());
  for (size_t k = 0; k < columns.size(); ++k) {
    inexact[k] = inexact_columns.contains(AsciiLower(columns[k].name));
    dates[k] = columns[k].type == jet::ColumnType::kDateTime;
  }
  const std::vector<size_t>& matched_by = result.keyed ? key : all;

  source_common::CopySource rows;
  if (Status opened = adapter.OpenCopyRows(owner, source, database, table, &rows); !opened.ok()) {
    return fail("reading the source rows failed: " + opened.message());
  }
  TableComparison note(result);
  std::vector<data::Field> fetched, fields;
  jet::Row converted(columns.size());
  std::vector<bool> nulls_as_no(columns.size());
  std::string failure;

  // The next source row converted into `converted`: false at the end of the rows or on a failure
  // (`failure` set). A row the file cannot hold (the row copy refuses it too) is missing and
  // passed over.
  const auto next_source_row = [&]() -> bool {
    for (;;) {
      if (!rows.rows.has_rowset()) return false;
      bool long_value = false;
      Result<bool> got = source_common::FetchCopyRow(rows, fetched, &long_value);
      if (!got.ok()) {
        failure = (long_value ? "reading a long value failed: " : "reading the source rows failed: ") +
                  got.status().message();
        return false;
      }
      if (!*got) return false;
      ++result.rows;
      if (fetched.size() != columns.size()) {
        failure = "the source has " + std::to_string(fetched.size()) + " columns, [" + result.access_table + "] " +
                  std::to_string(columns.size());
        return false;
      }
      // The row as the row copy writes it, converted to each column's type the way the target
      // converts it.
      std::string refused = source_common::WriteCopyFields(rows, fetched, fields);
      for (size_t k = 0; refused.empty() && k < columns.size(); ++k) {
        Result<jet::Value> value = data::ConvertField(fields[k], columns[k]);
        if (!value.ok()) {
          refused = value.status().message();
        } else if (std::holds_alternative<jet::Null>(*value) && columns[k].type == jet::ColumnType::kBoolean) {
          converted[k] = false;  // a Yes/No column has no NULL: the engine stores No
          nulls_as_no[k] = true;
        } else {
          converted[k] = std::move(*value);
          nulls_as_no[k] = false;
        }
      }
      if (refused.empty()) return true;
      std::string shown = "(";
      for (size_t c : matched_by) {
        if (shown.size() > 1) shown += ", ";
        Result<jet::Value> value = c < fields.size() ? data::ConvertField(fields[c], columns[c])
                                                     : Result<jet::Value>(InvalidArgumentError(""));
        shown += value.ok()                ? ShowValue(*value)
                 : fetched[c].is_null() ? "NULL"
                                           : "'" + data::FieldText(fetched[c]) + "'";
      }
      note.Missing(shown + ")");
    }
  };
  // Compares the converted source row with its row of the file.
  const auto compare = [&](const jet::Row& match) {
    bool differs = false;
    for (size_t k = 0; k < columns.size(); ++k) {
      if (nulls_as_no[k] || (!fetched[k].is_null() && (inexact[k] || (dates[k] && source_common::HasDigitsBelowMillisecond(fetched[k]))))) {
        ++result.inexact;
      }
      if (jet::SameValue(converted[k], match[k])) continue;
      differs = true;
      note.Note({VerifyDifference::Kind::kValue, ShowKey(converted, key), columns[k].name, ShowValue(converted[k]),
                 ShowValue(match[k])});
    }
    if (differs) ++result.differing;
  };

  // In step first: a migrated table's rows lie in the file in the order the source gave them,
  // so each source row is compared with the next row of the file while their keys (or, without
  // a key, whole rows) agree; nothing is held in memory. At the first disagreement the rest is
  // matched through an index of the file's remaining rows.
  long long in_step = 0;    // rows of the file matched in step
  bool pending = false;     // a converted source row the step could not place
  bool source_done = false;
  const Status stepped = target.ScanRows(definition, [&](jet::RowPointer, const jet::Row& row) {
    if (!next_source_row()) {
      source_done = true;
      return Status(ErrorCode::kCancelled, "");
    }
    if (ExactKey(converted, matched_by) != ExactKey(row, matched_by)) {
      pending = true;
      return Status(ErrorCode::kCancelled, "");
    }
    compare(row);
    ++in_step;
    return Status::Ok();
  });
  if (!failure.empty()) return fail(failure);
  if (!stepped.ok() && stepped.code() != ErrorCode::kCancelled) {
    return fail("reading [" + result.access_table + "] failed: " + stepped.message());
  }

  // The file's rows after those matched in step: key -> row, or hash of the whole row -> rows.
  std::unordered_map<std::string, jet::RowPointer> by_key;
  std::unordered_multimap<uint64_t, jet::RowPointer> by_hash;
  if (stepped.ok() && !pending) source_done = !next_source_row();
  if (!failure.empty()) return fail(failure);
  if (pending || !source_done || stepped.code() == ErrorCode::kCancelled) {
    jet::ScanOptions scan;
    scan.read_long_values = !result.keyed;
    long long skipped = 0;
    const Status scanned = target.ScanRows(
        definition,
        [&](jet::RowPointer where, const jet::Row& row) {
          if (skipped < in_step) {
            ++skipped;
            return Status::Ok();
          }
          if (result.keyed) {
            by_key.emplace(ExactKey(row, key), where);
          } else {
            by_hash.emplace(Hash(ExactKey(row, all)), where);
          }
          return Status::Ok();
        },
        scan);
    if (!scanned.ok()) return fail("reading [" + result.access_table + "] failed: " + scanned.message());
  }
  // The source rows left, each looked up in the index; the first is the one the step stopped at.
  for (bool have = pending || (!source_done && stepped.ok()); have; have = next_source_row()) {
    std::optional<jet::Row> match;
    if (result.keyed) {
      const auto it = by_key.find(ExactKey(converted, key));
      if (it != by_key.end()) {
        Result<jet::Row> row = target.ReadRow(definition, it->second);
        if (!row.ok()) return fail("reading [" + result.access_table + "] failed: " + row.status().message());
        match = std::move(*row);
        by_key.erase(it);
      }
    } else {
      const std::string exact = ExactKey(converted, all);
      auto [begin, end] = by_hash.equal_range(Hash(exact));
      for (auto it = begin; it != end && !match; ++it) {
        Result<jet::Row> row = target.ReadRow(definition, it->second);
        if (!row.ok()) return fail("reading [" + result.access_table + "] failed: " + row.status().message());
        if (ExactKey(*row, all) == exact) {
          match = std::move(*row);
          by_hash.erase(it);
          break;
        }
      }
    }
    if (!match) {
      note.Missing(ShowKey(converted, matched_by));
      continue;
    }
    compare(*match);
  }
  if (!failure.empty()) return fail(failure);

  // What is left of the index the source does not have, in the file's order.
  std::vector<jet::RowPointer> left;
  for (const auto& [_, where] : by_key) left.push_back(where);
  for (const auto& [_, where] : by_hash) left.push_back(where);
  std::sort(left.begin(), left.end());
  result.extra = static_cast<long long>(left.size());
  for (jet::RowPointer where : left) {
    if (result.first.size() >= kShownDifferences) break;
    Result<jet::Row> row = target.ReadRow(definition, where);
    if (!row.ok()) return fail("reading [" + result.access_table + "] failed: " + row.status().message());
    note.Note({VerifyDifference::Kind::kExtra, ShowKey(*row, key.empty() ? all : key), {}, {}, {}});
  }
  return result;
}

Result<std::vector<TableVerification>> RunVerification(Workbench& owner, const VerifyRequest& request) {
  data::Session* source = owner.source().session.get();
  if (source == nullptr) return ProviderError("No Source Connection!");
  const source_common::SourceAdapter& adapter = SourceAdapterFor(owner.source().profile.provider_name);
  if (!adapter.UseDatabase(nullptr, source, request.source_database)) {
    return ProviderError("the source database '" + request.source_database + "' cannot be used");
  }
  // The context a migration's flows give the adapter, without its lines and callbacks.
  data::DbConnection jet_target;
  jet_target.profile.provider_name = data::kJetProviderName;
  source_common::SourceContext context;
  context.source = &owner.source();
  context.target = &jet_target;
  context.condition = [&owner, path = owner.condition_file_path](std::string_view database, std::string_view table) {
    if (std::optional<std::string> given = owner.ConditionOverride(table)) return *given;
    return config::ReadCondition(path, database, table);
  };
  {
    std::lock_guard guard(owner.tree_lock());
    context.type_map = owner.type_map;
  }
  std::vector<ListedObject> tables, views;
  const data::Hresult listed = ListObjects(source, "TABLE", &tables);
  if (data::Failed(listed)) return ProviderError(data::FormatHresult("Open tables Error:", listed));
  (void)ListObjects(source, "VIEW", &views);  // without views the table names are the same
  std::vector<SourceTable> objects, chosen;
  for (const auto* list : {&tables, &views}) {
    for (const ListedObject& o : *list) objects.emplace_back(o.schema, o.name);
  }
  context.names = std::make_shared<source_common::AccessNames>(objects);
  for (const ListedObject& o : tables) {
    if (o.type == "VIEW") continue;
    const bool asked = request.tables.empty() || std::any_of(request.tables.begin(), request.tables.end(),
                                                             [&o](const std::string& name) { return name == o.name; });
    if (asked) chosen.emplace_back(o.schema, o.name);
  }
  for (const std::string& name : request.tables) {
    // A table named otherwise than listed: the listed one of that name without regard to case.
    if (std::any_of(chosen.begin(), chosen.end(), [&name](const SourceTable& t) { return t.name == name; })) continue;
    const auto loose = std::find_if(tables.begin(), tables.end(), [&name](const ListedObject& o) {
      return o.type != "VIEW" && EqualsIgnoreAsciiCase(o.name, name);
    });
    chosen.push_back(loose != tables.end() ? SourceTable(loose->schema, loose->name) : SourceTable(name));
  }

  Result<std::unique_ptr<jet::Database>> file = jet::Database::Open(request.target_file, jet::OpenMode::kReadOnly);
  if (!file.ok()) return file.status();
  std::vector<TableVerification> results;
  for (const SourceTable& table : chosen) {
    results.push_back(VerifyTable(context, adapter, source, request.source_database, table, **file));
  }
  return results;
}

}  // namespace tabulon::converters
