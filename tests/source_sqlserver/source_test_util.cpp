#include "tests/source_sqlserver/source_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "data/statement.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver::testing {

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string FixturePath(const std::string& name) {
  return std::string(TABULON_SOURCE_DIR) + "/tests/source_sqlserver/fixtures/" + name;
}

namespace {

SourceTable ParseName(const std::string& text) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return SourceTable(text);
  return SourceTable(text.substr(0, dot), text.substr(dot + 1));
}

// The statement as the replay format writes it: one line, escapes for line ends and backslashes.
std::string EscapeForReplay(const std::string& sql) {
  std::string out;
  for (char c : sql) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void LoadFixture(tabulon::testing::ReplayScript& script, const std::string& name, bool jet_target) {
  std::istringstream in(ReadTextFile(FixturePath(name)));
  ASSERT_TRUE(in.good()) << name;
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.starts_with("== @")) {
      std::istringstream words(line.substr(4));
      std::string kind, object;
      words >> kind >> object;
      const SourceTable table = ParseName(object);
      std::string sql;
      if (kind == "columns") sql = BuildColumnsStatement(table, jet_target);
      else if (kind == "rows") sql = BuildSelectRowsStatement(table, "");
      else if (kind == "text") sql = BuildHelpTextStatement(table);
      else if (kind == "constraints") sql = BuildHelpConstraintStatement(table);
      else if (kind == "indexes") sql = BuildHelpIndexStatement(table);
      else if (kind == "fks") sql = BuildForeignKeysStatement(table);
      else ADD_FAILURE() << name << ": unknown placeholder " << kind;
      line = "== " + EscapeForReplay(sql);
    }
    out += line + "\n";
  }
  script.Load(out);
}

void ExpectGolden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(TABULON_SOURCE_DIR) + "/tests/source_sqlserver/golden/" + name;
  const char* update = std::getenv("TABULON_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  EXPECT_EQ(ReadTextFile(path), actual) << "golden file " << path << " differs (TABULON_UPDATE_GOLDEN=1 rewrites it)";
}

void RunPieces(data::Session* target, const std::string& text, data::OutputPane* pane) {
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(';', start), text.size());
    const std::string piece = text.substr(start, end - start);
    if (piece.find_first_not_of(" \r\n\t") != std::string::npos) {
      EXPECT_TRUE(data::ExecuteStatement(pane, target, piece, 1)) << piece;
    }
    start = end + 1;
  }
}

std::vector<std::string> OutputTexts(const data::OutputPane& pane) {
  std::vector<std::string> texts;
  for (const data::OutputLine& line : pane.Lines()) texts.push_back(line.text);
  return texts;
}

ReplayedSource::ReplayedSource(const std::string& target_provider) {
  tabulon::testing::ConnectReplay(source, script);
  source.profile.provider_name = "SQLOLEDB";
  target.profile.provider_name = target_provider;
  owner.output = &pane;
  owner.source = &source;
  owner.target = &target;
}

}  // namespace tabulon::source_sqlserver::testing
