// Shared pieces of the source adapter's tests: fixtures with statement placeholders, golden
// files, and a context over replayed connections.
#pragma once

#include <memory>
#include <string>

#include "data/db_connection.h"
#include "workspace/output_pane.h"
#include "jet/schema.h"
#include "source_sqlserver/source_context.h"
#include "source_sqlserver/sql_names.h"
#include "tests/support/jet_test_files.h"
#include "tests/support/provider_helpers.h"
#include "tests/support/replay_provider.h"
#include "tests/support/translation_text.h"

namespace tabulon::source_sqlserver::testing {

using tabulon::testing::ExpectGoldenFile;
using tabulon::testing::OutputTexts;
using tabulon::testing::ReadTextFile;
using tabulon::testing::Shown;

std::string FixturePath(const std::string& name);

// Loads a replay fixture: a statement line "== @columns T" (also @rows, @text, @constraints,
// @indexes, @fks, @descriptions, @checks, and "@largest T|C" for column C) stands for the
// statement the adapter builds
// for T ("S.T": schema S; a bare T gets `default_schema` when one is given, as objects the
// catalogue lists with their schema).
void LoadFixture(tabulon::testing::ReplayScript& script, const std::string& name,
                 const std::string& default_schema = "");

// Records the answer to the columns statement of `table`: `rows` in the fixtures' row format
// ("name | type_id | type_name | declared_type | max_length | precision | scale | is_nullable |
// is_identity | seed | increment | has_default | definition | collation").
void RecordColumns(tabulon::testing::ReplayScript& script, const SourceTable& table,
                   const std::vector<std::string>& rows);

// What the Access table migrated from `table` should hold: its columns (from the recorded column
// query) and, in order, the rows of the recorded answer to `rows_sql` (by default the table's
// plain select) as the target stores them.
struct AccessTableContent {
  std::vector<jet::ColumnDefinition> columns;
  std::vector<jet::Row> rows;
};
AccessTableContent ExpectedAccessTable(tabulon::testing::ReplayScript& script, const SourceTable& table,
                                       const std::string& rows_sql = "");

// Compares `actual` with golden/<name>; TABULON_UPDATE_GOLDEN=1 rewrites the file instead.
void ExpectGolden(const std::string& name, const std::string& actual);

// Records the rows of Tradewind's EventLog (realistic.replay gives its catalogue only): `rows`
// generated rows with NULLs, empty strings, quotes, unicode beyond the BMP and long values;
// `schema` as the fixture was loaded with.
void RecordEventLogRows(tabulon::testing::ReplayScript& script, const std::string& schema, size_t rows = 10000);

// A source connection on a replay script and a target named by provider (not opened).
struct ReplayedSource {
  explicit ReplayedSource(const std::string& target_provider = "Microsoft.Jet.OLEDB.4.0");

  std::shared_ptr<tabulon::testing::ReplayScript> script = std::make_shared<tabulon::testing::ReplayScript>();
  workspace::OutputPane pane;
  data::DbConnection source;
  data::DbConnection target;
  SourceContext owner;
  data::Session* session() { return source.session.get(); }
};

}  // namespace tabulon::source_sqlserver::testing
