#include "target_access/backup_keys.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/text.h"
#include "jet/object_properties.h"
#include "target_access/access_files.h"
#include "target_access/target_tables.h"

namespace tabulon::target_access {
namespace {

std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string NameList(const std::vector<std::string>& names) {
  std::string out = "(";
  for (size_t i = 0; i < names.size(); ++i) out += (i > 0 ? ", " : "") + QuoteAccessName(names[i]);
  return out + ")";
}

uint64_t LittleEndian(const std::string& data) {
  uint64_t value = 0;
  for (size_t i = data.size(); i-- > 0;) value = (value << 8) | static_cast<uint8_t>(data[i]);
  return value;
}

std::string Hex(const std::string& data) {
  std::string out = "0x";
  for (const char c : data) out += fmt::format("{:02X}", static_cast<uint8_t>(c));
  return out;
}

// A Currency amount (units of 1/10,000) as exact decimal text.
std::string CurrencyText(int64_t units) {
  const bool negative = units < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string text = fmt::format("{}{}", negative ? "-" : "", magnitude / 10000);
  if (magnitude % 10000 != 0) text += fmt::format(".{:04}", magnitude % 10000);
  return text;
}

// A property's value as the SQL layer reads it back into the same bytes: the value in its type
// where the bytes are what that value is stored as, else the bytes themselves (0x...).
std::string PropertyValueText(const jet::format::Property& p) {
  const std::string& d = p.data;
  switch (static_cast<jet::ColumnType>(p.type)) {
    case jet::ColumnType::kBoolean:
      if (d == std::string(1, '\0')) return "FALSE";
      if (d == std::string(1, '\1')) return "TRUE";
      break;
    case jet::ColumnType::kByte:
      if (d.size() == 1) return std::to_string(LittleEndian(d));
      break;
    case jet::ColumnType::kInteger:
      if (d.size() == 2) return std::to_string(static_cast<int16_t>(LittleEndian(d)));
      break;
    case jet::ColumnType::kLong:
      if (d.size() == 4) return std::to_string(static_cast<int32_t>(LittleEndian(d)));
      break;
    case jet::ColumnType::kCurrency:
      if (d.size() == 8) return CurrencyText(static_cast<int64_t>(LittleEndian(d)));
      break;
    case jet::ColumnType::kSingle:
      if (d.size() == 4) {
        float value = 0;
        std::memcpy(&value, d.data(), 4);
        if (std::isfinite(value)) return fmt::format("{:.9g}", value);
      }
      break;
    case jet::ColumnType::kDouble:
    case jet::ColumnType::kDateTime:
      if (d.size() == 8) {
        double value = 0;
        std::memcpy(&value, d.data(), 8);
        if (std::isfinite(value)) return fmt::format("{:.17g}", value);
      }
      break;
    case jet::ColumnType::kText:
    case jet::ColumnType::kMemo: {
      // Only text that reads back to the same bytes (no lone surrogate, no odd byte).
      const std::string text = Utf16LeBytesToUtf8(reinterpret_cast<const uint8_t*>(d.data()), d.size());
      Result<std::u16string> again = Utf8ToUtf16(text);
      std::string bytes;
      if (again.ok()) AppendUtf16Le(*again, bytes);
      if (bytes == d) return Quoted(text);
      break;
    }
    case jet::ColumnType::kGuid:
      if (d.size() == 16) {
        const auto b = [&](size_t i) { return static_cast<uint8_t>(d[i]); };
        return fmt::format(
            "'{{{:02X}{:02X}{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-"
            "{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}}}'",
            b(3), b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13), b(14), b(15));
      }
      break;
    default: break;
  }
  return Hex(d);
}

}  // namespace

Result<std::unique_ptr<jet::Database>> OpenTargetFile(TargetContext& owner, data::Session* session) {
  if (session == nullptr || owner.target == nullptr) return Status(ErrorCode::kNoConnection, "No Connection!");
  const data::ConnectionProfile& profile = owner.target->profile;
  if (!IsJetProvider(profile.provider_name) || profile.source_name.empty()) {
    return UnsupportedError("keys, relationships and properties are read from an .mdb file only");
  }
  if (session->Commit() != data::S_OK) return IoError("the target's pending changes could not be committed");
  return jet::Database::Open(profile.source_name, jet::OpenMode::kReadOnly);
}

Result<std::string> KeysScript(jet::Database& db, const std::string& table) {
  ASSIGN_OR_RETURN(jet::TableDefinition def, db.GetTable(table));
  const std::string head = "ALTER TABLE " + QuoteAccessName(def.name) + " ALTER COLUMN ";
  std::string script;
  for (const jet::ColumnDefinition& c : def.columns) {
    if (c.type == jet::ColumnType::kLong && c.auto_number()) {
      const uint64_t next = std::min<uint64_t>(uint64_t{def.last_auto_number} + 1, INT32_MAX);
      script += head + QuoteAccessName(c.name) + fmt::format(" COUNTER({}, 1);\n", next);
    } else if (c.type == jet::ColumnType::kGuid && (c.flags & jet::kColumnAutoGuid) != 0) {
      script += head + QuoteAccessName(c.name) + " COUNTER;\n";
    } else if ((c.type == jet::ColumnType::kText || c.type == jet::ColumnType::kMemo) &&
               (c.extra_flags & jet::kColumnCompressed) == 0) {
      // A table script's text columns allow compression; Access's choice for this one is kept.
      script += head + QuoteAccessName(c.name) + " WITHOUT COMPRESSION;\n";
    }
  }
  std::vector<const jet::IndexDefinition*> indexes;
  for (const jet::IndexDefinition& index : def.indexes) {
    if (index.index_type != 0x02) indexes.push_back(&index);  // not a relationship's own
  }
  std::sort(indexes.begin(), indexes.end(),
            [](const auto* a, const auto* b) { return a->logical_number < b->logical_number; });
  for (const jet::IndexDefinition* index : indexes) {
    const bool primary = index->index_type == 0x01;
    const bool unique = (index->flags & 0x01) != 0;
    std::string columns;
    for (const jet::IndexColumn& k : index->columns) {
      std::string name;
      for (const jet::ColumnDefinition& c : def.columns) {
        if (c.number == k.column_number) name = c.name;
      }
      if (name.empty()) return CorruptError("index '" + index->name + "' names a column the table lacks");
      columns += (columns.empty() ? "" : ", ") + QuoteAccessName(name) + (k.ascending ? "" : " DESC");
    }
    std::string with;
    if (primary) with += " PRIMARY";
    if ((index->flags & 0x08) != 0 && !primary) with += " DISALLOW NULL";
    if ((index->flags & 0x02) != 0) with += " IGNORE NULL";
    script += std::string("CREATE ") + (unique && !primary ? "UNIQUE " : "") + "INDEX " + QuoteAccessName(index->name) +
              " ON " + QuoteAccessName(def.name) + " (" + columns + ")" + (with.empty() ? "" : " WITH" + with) + ";\n";
  }
  return script;
}

Result<std::vector<std::pair<std::string, std::string>>> RelationshipScripts(jet::Database& db,
                                                                             const std::string& table) {
  ASSIGN_OR_RETURN(std::vector<jet::Relationship> relationships, db.ListRelationships());
  std::vector<std::pair<std::string, std::string>> scripts;
  for (const jet::Relationship& r : relationships) {
    if (!EqualsIgnoreAsciiCase(r.foreign_table, table)) continue;
    std::string sql = "ALTER TABLE " + QuoteAccessName(r.foreign_table) + " ADD CONSTRAINT " + QuoteAccessName(r.name) +
                      " FOREIGN KEY " + NameList(r.foreign_columns) + " REFERENCES " +
                      QuoteAccessName(r.primary_table) + " " + NameList(r.primary_columns);
    if (r.cascade_update) sql += " ON UPDATE CASCADE";
    if (r.cascade_delete) sql += " ON DELETE CASCADE";
    if (r.cascade_null) sql += " ON DELETE SET NULL";
    if (!r.enforced) sql += " NOT ENFORCED";
    if (r.one_to_one) sql += " ONE TO ONE";
    if (r.join == jet::JoinKind::kLeft) sql += " LEFT JOIN";
    if (r.join == jet::JoinKind::kRight) sql += " RIGHT JOIN";
    scripts.emplace_back(r.name, sql + ";\n");
  }
  return scripts;
}

Result<std::string> PropertiesScript(jet::Database& db, const std::string& table) {
  ASSIGN_OR_RETURN(jet::TableDefinition def, db.GetTable(table));
  ASSIGN_OR_RETURN(jet::ObjectProperties maps, db.ReadProperties(def.name));
  const std::string head = "ALTER TABLE " + QuoteAccessName(def.name);
  // Cleared first: the table script made some properties already (Required, DefaultValue), and
  // the maps are to come back in their stored order.
  std::string script = head + " CLEAR PROPERTIES;\n";
  for (const jet::format::PropertyMap& map : maps) {
    const std::string target = map.column ? head + " ALTER COLUMN " + QuoteAccessName(map.name) : head;
    for (const jet::format::Property& p : map.properties) {
      script += target + " SET PROPERTY " + QuoteAccessName(p.name) + " = " + PropertyValueText(p) + " AS " +
                jet::PropertyTypeWord(p.type) + (p.ddl ? " DDL" : "") + ";\n";
    }
  }
  return script;
}

}  // namespace tabulon::target_access
