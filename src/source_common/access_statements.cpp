#include "source_common/access_statements.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "base/text.h"
#include "data/providers/jet/jet_provider.h"

namespace tabulon::source_common {

bool TargetIsJet(const SourceContext& owner) {
  return owner.target != nullptr && EqualsIgnoreAsciiCase(owner.target->profile.provider_name, data::kJetProviderName);
}

const TypeMap& UserTypeMap(const SourceContext& owner) {
  static const TypeMap kNone;
  return owner.type_map ? *owner.type_map : kNone;
}

SourceVolume VolumeFromCounts(const std::vector<std::string>& columns, const std::vector<long long>& counts) {
  SourceVolume volume;
  volume.rows = counts.empty() ? 0 : counts[0];
  for (size_t k = 0; k < columns.size() && 2 + 2 * k < counts.size(); ++k) {
    SourceColumnVolume column;
    column.column = columns[k];
    column.values = counts[1 + 2 * k];
    column.length = counts[2 + 2 * k];
    volume.columns.push_back(std::move(column));
  }
  return volume;
}

std::string MigrationCondition(const SourceContext& owner, std::string_view database, std::string_view table) {
  return owner.condition ? owner.condition(database, table) : std::string();
}

std::string NameWithHash(std::string_view name, std::string_view hashed) {
  // The first 57 UTF-16 units (whole characters), "~" and six hex digits of a hash of `hashed`.
  constexpr size_t kKept = 57;
  size_t units = 0;
  size_t cut = name.size();
  for (size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const size_t width = length == 4 ? 2 : 1;
    if (units + width > kKept) {
      cut = i;
      break;
    }
    units += width;
    i += length;
  }
  uint32_t hash = 2166136261u;
  for (char c : hashed) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "~%06X", static_cast<unsigned>(hash & 0xFFFFFF));
  return std::string(name.substr(0, cut)) + suffix;
}

std::string AccessObjectName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    // A backquote ends a quoted name; the other characters Access refuses in any name.
    out += c == '`' ? '\'' : (c == '.' || c == '!' || c == '[' || c == ']' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (out.empty()) return "_";
  if (out.front() == ' ') out.front() = '_';
  // Past 64 UTF-16 units the name is shortened, its hash keeping apart long names that share
  // their beginning.
  constexpr size_t kLimit = 64;
  size_t units = 0;
  for (size_t i = 0; i < out.size();) {
    const auto lead = static_cast<unsigned char>(out[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    units += length == 4 ? 2 : 1;
    i += length;
  }
  return units <= kLimit ? out : NameWithHash(out, name);
}

std::string AccessName(std::string_view name) { return "`" + AccessObjectName(name) + "`"; }

void ReportRenames(const SourceContext& owner, std::string_view table, const std::vector<Rename>& renames) {
  if (renames.empty()) return;
  const char* kind = renames.front().kind == "view" ? "VIEW" : "TABLE";
  std::string line = "T::" + std::string(kind) + " [" + std::string(table) + "]: renamed for Access:";
  for (size_t k = 0; k < renames.size(); ++k) {
    const Rename& r = renames[k];
    line += (k == 0 ? " " : "; ") + r.kind + " [" + r.from + "] -> [" + r.to + "]";
    if (owner.renamed) owner.renamed(r);
  }
  workspace::WriteOutput(owner.output, "%s", line.c_str());
}

void AddRename(std::vector<Rename>& renames, std::string_view kind, std::string_view table, std::string_view from,
               std::string_view to) {
  if (to != from) renames.push_back({std::string(kind), std::string(table), std::string(from), std::string(to)});
}

std::string SafeFileName(std::string_view name) {
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    out += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (out.empty() || out == "." || out == "..") out = std::string(out.size() + 1, '_');
  return out;
}

void AppendAccessString(std::string& out, std::string_view text) {
  out += '\'';
  size_t start = 0;
  for (size_t quote = text.find('\''); quote != std::string_view::npos; quote = text.find('\'', start)) {
    out.append(text.substr(start, quote + 1 - start));
    out += '\'';
    start = quote + 1;
  }
  out.append(text.substr(start));
  out += '\'';
}

bool IsNumberLiteral(std::string_view s) {
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
  size_t i = 0;
  bool digits = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) digits = (++i, true);
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) digits = (++i, true);
  }
  if (!digits) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    bool exponent = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) exponent = (++i, true);
    if (!exponent) return false;
  }
  return i == s.size();
}

bool IsStringLiteral(std::string_view s) {
  if (s.size() < 2 || s.front() != '\'' || s.back() != '\'') return false;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == '\'') {
      if (s[i + 1] != '\'' || i + 2 == s.size()) return false;
      ++i;
    }
  }
  return true;
}

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// True when the first '(' of `s` is closed by its last character, skipping quoted text.
bool EnclosedInParentheses(std::string_view s) {
  if (s.size() < 2 || s.front() != '(' || s.back() != ')') return false;
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\'') quoted = !quoted;  // a doubled quote toggles twice
    if (quoted) continue;
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return i + 1 == s.size();
  }
  return false;
}

}  // namespace

std::string_view StripEnclosingParentheses(std::string_view text) {
  text = TrimBlanks(text);
  while (EnclosedInParentheses(text)) text = TrimBlanks(text.substr(1, text.size() - 2));
  return text;
}

std::string CreateTableStatement(std::string_view table, const std::vector<AccessColumn>& columns, bool jet_target) {
  std::string text = "create table " + AccessName(table) + "(\n";
  bool first = true;
  for (const AccessColumn& c : columns) {
    if (!first) text += ",\n";
    first = false;
    text += AccessName(c.name) + " " + c.type + " " + c.length + " " + (c.nullable ? "NULL" : "NOT NULL") + " ";
    if (jet_target && !c.default_value.empty()) text += "default " + c.default_value;
    text += " ";
  }
  text += ")\n";
  return text;
}

void ReportLeftOutDefault(const SourceContext& owner, std::string_view table, std::string_view definition,
                          std::string_view column) {
  workspace::WriteOutput(owner.output,
                         "T::TABLE [%.*s]: the default %.*s of column [%.*s] is left out: Access cannot evaluate it",
                         static_cast<int>(table.size()), table.data(), static_cast<int>(definition.size()),
                         definition.data(), static_cast<int>(column.size()), column.data());
}

void ReportColumnMappings(const SourceContext& owner, const std::vector<ColumnMapping>& mappings) {
  if (!owner.column_mapped) return;
  for (const ColumnMapping& m : mappings) owner.column_mapped(m);
}

void ReportColumnNotes(const SourceContext& owner, std::string_view table, const std::vector<ColumnNote>& notes) {
  if (notes.empty()) return;
  std::string line = "T::TABLE [" + std::string(table) + "]: columns not kept exactly as typed:";
  for (size_t k = 0; k < notes.size(); ++k) {
    const ColumnNote& n = notes[k];
    line += (k == 0 ? " [" : "; [") + n.column + "] " + n.source_type + " -> " + n.target_type + ": " + n.why;
    if (owner.column_noted) owner.column_noted(n);
  }
  workspace::WriteOutput(owner.output, "%s", line.c_str());
}

std::string AccessKeyList(const std::vector<KeyColumn>& columns) {
  std::string out;
  for (const KeyColumn& c : columns) {
    if (!out.empty()) out += ',';
    out += AccessName(c.name);
    if (c.descending) out += " DESC";
  }
  return out;
}

std::string PrimaryKeyStatement(std::string_view table, const std::vector<KeyColumn>& columns) {
  if (columns.empty()) return {};
  return "alter table " + AccessName(table) + " add PRIMARY KEY(" + AccessKeyList(columns) + ")\n";
}

std::string UniqueIndexStatement(std::string_view table, int counter, const std::vector<KeyColumn>& columns) {
  return "CREATE UNIQUE INDEX " + AccessName(std::string(table) + "_IDX_" + std::to_string(counter)) + " ON " +
         AccessName(table) + " (" + AccessKeyList(columns) + ")\n";
}

void AppendStatement(std::string& text, const std::string& statement) {
  if (!text.empty()) text += ";\n";
  text += statement;
}

}  // namespace tabulon::source_common
