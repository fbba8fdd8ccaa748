#include "source_common/access_indexes.h"

#include <algorithm>
#include <map>

#include "base/text.h"
#include "data/provider.h"
#include "source_common/access_names.h"
#include "source_common/target_columns.h"

namespace tabulon::source_common {
namespace {

std::string Bracketed(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "[" : ", [") + n + "]";
  return out;
}

// The key as Access compares keys: names without regard to case, and their order.
std::string KeySignature(const std::vector<KeyColumn>& columns) {
  std::string out;
  for (const KeyColumn& c : columns) out += AsciiLower(c.name) + (c.descending ? " desc," : ",");
  return out;
}

// Why Access cannot hold `index` (already under Access column names), or "".
std::string WhyLeftOut(const SourceIndex& index, const std::vector<KeyColumn>& columns,
                       const std::set<std::string>& long_columns) {
  if (!index.cannot_hold.empty()) return "Access cannot hold " + index.cannot_hold;
  for (const KeyColumn& c : index.columns) {
    if (c.name.empty()) return "Access cannot hold an index on an expression";
  }
  if (columns.empty()) return "it has no key columns";
  if (columns.size() > kMaxAccessIndexColumns) {
    return "it has " + std::to_string(columns.size()) + " key columns; Access indexes at most 10";
  }
  for (const KeyColumn& c : columns) {
    if (long_columns.count(AsciiLower(c.name))) {
      return "column [" + c.name + "] is a Memo or OLE Object column, which Access cannot index";
    }
  }
  return {};
}

}  // namespace

std::set<std::string> TargetLongColumns(const SourceContext& owner, const std::string& table) {
  std::set<std::string> long_columns;
  for (const TargetColumn& c : ReadTargetColumns(owner.target ? owner.target->session.get() : nullptr, table)) {
    if ((c.flags & data::DBCOLUMNFLAGS_ISLONG) != 0) long_columns.insert(AsciiLower(c.name));
  }
  return long_columns;
}

Translation AccessIndexes(const SourceContext& owner, const SourceTable& table, const std::vector<SourceIndex>& indexes,
                          const std::vector<KeyColumn>& primary_key, size_t foreign_key_indexes,
                          const std::set<std::string>& long_columns) {
  const std::string access_table = AccessTableName(owner, table);
  std::set<std::string> names{"primarykey"};
  std::map<std::string, std::string> key_owner;  // key -> the index that has it
  size_t room = kMaxAccessIndexes - std::min(kMaxAccessIndexes, foreign_key_indexes);
  if (!primary_key.empty()) {
    const std::string key = KeySignature(AccessKeyColumns(owner, table, primary_key));
    key_owner.emplace(key, "PrimaryKey");
    room = room > 0 ? room - 1 : 0;
  }
  // Unique indexes first: relationships may need them, and their names are given.
  std::vector<size_t> order;
  for (size_t i = 0; i < indexes.size(); ++i) {
    if (indexes[i].unique) order.push_back(i);
  }
  for (size_t i = 0; i < indexes.size(); ++i) {
    if (!indexes[i].unique) order.push_back(i);
  }
  for (size_t i = 0; i < indexes.size(); ++i) {
    if (indexes[i].unique) names.insert(AsciiLower(access_table + "_IDX_" + std::to_string(i)));
  }
  struct Made {
    size_t place;
    std::string statement;
    std::string note;
  };
  std::vector<Made> made;
  std::vector<TranslationNote> left_out;
  for (size_t i : order) {
    const SourceIndex& index = indexes[i];
    const std::string what = "INDEX [" + index.name + "] of [" + table.name + "]";
    std::vector<KeyColumn> columns;
    for (const KeyColumn& c : index.columns) {
      if (!c.name.empty()) columns.push_back(c);
    }
    columns = AccessKeyColumns(owner, table, std::move(columns));
    std::string why = WhyLeftOut(index, columns, long_columns);
    const std::string key = KeySignature(columns);
    if (why.empty() && !index.unique && key_owner.count(key)) {
      why = "its keys are those of index [" + key_owner[key] + "], which serves both";
    }
    if (why.empty() && room == 0) why = "a table holds at most 32 indexes, relationships' own included";
    if (!why.empty()) {
      left_out.push_back({TranslationNote::kLeftOut, what + " is left out: " + why, false});
      continue;
    }
    --room;
    std::string name;
    std::string statement;
    if (index.unique) {
      name = access_table + "_IDX_" + std::to_string(i);
      statement = UniqueIndexStatement(access_table, static_cast<int>(i), columns);
    } else {
      name = AccessObjectName(index.name);
      if (names.count(AsciiLower(name))) name = NameWithHash(name, table.name + "." + index.name);
      names.insert(AsciiLower(name));
      statement = "CREATE INDEX " + AccessName(name) + " ON " + AccessName(access_table) + " (" +
                  AccessKeyList(columns) + ")\n";
    }
    key_owner.emplace(key, name);
    std::string note;
    if (!index.included.empty()) {
      std::vector<std::string> included;
      for (const std::string& c : index.included) included.push_back(AccessColumnName(owner, table, c));
      note = what + ": included columns " + Bracketed(included) + " are left out; Access keeps the key only";
    }
    made.push_back({i, std::move(statement), std::move(note)});
  }
  // Statements in the source's order.
  std::sort(made.begin(), made.end(), [](const Made& a, const Made& b) { return a.place < b.place; });
  std::string text;
  std::vector<TranslationNote> notes;
  for (size_t k = 0; k < made.size(); ++k) {
    AppendStatement(text, made[k].statement);
    if (!made[k].note.empty()) notes.push_back({k, made[k].note, false});
  }
  Translation result = Translation::Statements(std::move(text));
  result.notes = std::move(notes);
  result.notes.insert(result.notes.end(), left_out.begin(), left_out.end());
  return result;
}

namespace {

const char* ActionWords(ReferentialAction action) {
  switch (action) {
    case ReferentialAction::kNoAction: return "NO ACTION";
    case ReferentialAction::kCascade: return "CASCADE";
    case ReferentialAction::kSetNull: return "SET NULL";
    case ReferentialAction::kSetDefault: return "SET DEFAULT";
  }
  return "NO ACTION";
}

}  // namespace

Result<Translation> AccessForeignKeys(const SourceContext& owner, const SourceTable& table,
                                      const std::vector<SourceForeignKey>& keys,
                                      const std::function<Status(const SourceTable&)>& record_columns) {
  if (keys.empty()) return Translation::Nothing();
  RETURN_IF_ERROR(record_columns(table));
  const bool jet = TargetIsJet(owner);
  const std::string access_table = AccessTableName(owner, table);
  std::vector<Rename> renames;
  std::string text;
  std::vector<TranslationNote> notes;
  size_t place = 0;
  for (const SourceForeignKey& key : keys) {
    const std::string what = "RELATIONSHIP [" + key.name + "] of [" + table.name + "]";
    const SourceTable referenced =
        owner.names ? owner.names->Listed(key.referenced_table,
                                          key.referenced_schema.empty() ? table.schema : key.referenced_schema)
                    : SourceTable(key.referenced_schema, key.referenced_table);
    RETURN_IF_ERROR(record_columns(referenced));
    if (!key.not_enforced.empty() && !jet) {
      notes.push_back({TranslationNote::kLeftOut, what + " is left out: " + key.not_enforced, false});
      continue;
    }
    const std::string name = AccessObjectName(key.name);
    AddRename(renames, "relationship", table.name, key.name, name);
    std::string statement =
        "Alter Table " + AccessName(access_table) + " Add CONSTRAINT " + AccessName(name) + " FOREIGN KEY (";
    for (size_t k = 0; k < key.columns.size(); ++k) {
      statement += (k ? ", " : "") + AccessName(AccessColumnName(owner, table, key.columns[k]));
    }
    statement += ")\n REFERENCES " + AccessName(AccessTableName(owner, referenced)) + "(";
    for (size_t k = 0; k < key.referenced_columns.size(); ++k) {
      statement += (k ? ", " : "") + AccessName(AccessColumnName(owner, referenced, key.referenced_columns[k]));
    }
    statement += ")";
    std::vector<std::string> without_rule;
    if (!key.not_enforced.empty()) {
      statement += " NOT ENFORCED";
      notes.push_back({place, what + " is not enforced: " + key.not_enforced, true});
    } else if (jet) {
      if (key.on_update == ReferentialAction::kCascade) statement += " ON UPDATE CASCADE";
      if (key.on_update == ReferentialAction::kSetNull || key.on_update == ReferentialAction::kSetDefault) {
        without_rule.push_back(std::string("ON UPDATE ") + ActionWords(key.on_update));
      }
      if (key.on_delete == ReferentialAction::kCascade) statement += " ON DELETE CASCADE";
      if (key.on_delete == ReferentialAction::kSetNull) statement += " ON DELETE SET NULL";
      if (key.on_delete == ReferentialAction::kSetDefault) without_rule.push_back("ON DELETE SET DEFAULT");
    } else if (key.on_update != ReferentialAction::kNoAction || key.on_delete != ReferentialAction::kNoAction) {
      without_rule.push_back("the rules");
    }
    if (!without_rule.empty()) {
      std::string rules;
      for (const std::string& r : without_rule) rules += (rules.empty() ? "" : " and ") + r;
      notes.push_back({place, what + " is enforced without " + rules + ": Access has no such rule", false});
    }
    AppendStatement(text, statement);
    ++place;
  }
  if (!text.empty()) text += "\n";
  ReportRenames(owner, table.name, renames);
  Translation result = Translation::Statements(std::move(text));
  result.notes = std::move(notes);
  return result;
}

}  // namespace tabulon::source_common
