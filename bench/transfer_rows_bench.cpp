// TransferTableRows from a generated SQL Server source (rows made as they are fetched)
// into a new .mdb through the built-in Jet provider: rows per second and peak memory.
//   transfer_rows_bench [rows]
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>
#include <string>

#include "bench_util.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "source_sqlserver/translate.h"

using namespace tabulon;
using namespace tabulon::data;
using namespace tabulon::workspace;

namespace {

// A stand-in SQL Server answering "select * from [Sales]" with rows made as they are fetched.
class GeneratedRowset : public Rowset {
 public:
  explicit GeneratedRowset(long long rows) : rows_(rows) {}
  std::vector<std::string> ErrorRecords() const override { return {}; }
  Hresult GetColumnInfo(std::vector<ColumnInfo>* columns) override {
    const std::pair<const char*, DbType> kColumns[] = {{"ID", DBTYPE_I4},
                                                       {"Customer", DBTYPE_WSTR},
                                                       {"Amount", DBTYPE_CY},
                                                       {"Placed", DBTYPE_DBTIMESTAMP},
                                                       {"Paid", DBTYPE_BOOL}};
    columns->clear();
    for (const auto& [name, type] : kColumns) {
      ColumnInfo c;
      c.name = name;
      c.type = type;
      c.ordinal = columns->size() + 1;
      columns->push_back(c);
    }
    return S_OK;
  }
  Hresult FetchNextRow(RowBuffer& buffer) override {
    if (next_ >= rows_) return DB_S_ENDOFROWSET;
    const long long i = next_++;
    buffer.SetValue(1, std::to_string(i));
    if (i % 17 == 0) {
      buffer.SetNull(2);
    } else {
      buffer.SetValue(2, "Customer O'Neil " + std::to_string(i % 1000));
    }
    buffer.SetValue(3, std::to_string(i % 100000) + ".2500");
    buffer.SetValue(4, "2011-03-20 14:05:09.123");
    buffer.SetValue(5, i % 2 == 0 ? "1" : "0");
    return S_OK;
  }
  Result<std::optional<std::string>> ReadFullValue(size_t) override { return InvalidArgumentError("not kept"); }

 private:
  long long rows_;
  long long next_ = 0;
};

class GeneratedCommand : public Command {
 public:
  explicit GeneratedCommand(long long rows) : rows_(rows) {}
  std::vector<std::string> ErrorRecords() const override { return {}; }
  Hresult Execute(std::string_view, const PropertySet&, const RowsetOptions&,
                  std::unique_ptr<Rowset>* rowset) override {
    *rowset = std::make_unique<GeneratedRowset>(rows_);
    return S_OK;
  }

 private:
  long long rows_;
};

class GeneratedSession : public Session {
 public:
  explicit GeneratedSession(long long rows) : rows_(rows) {}
  std::vector<std::string> ErrorRecords() const override { return {}; }
  Hresult CreateCommand(std::unique_ptr<Command>* command) override {
    *command = std::make_unique<GeneratedCommand>(rows_);
    return S_OK;
  }

 private:
  long long rows_;
};

}  // namespace

int main(int argc, char** argv) {
  const long long rows = bench::RowsArgument(argc, argv, 1);
  const std::string path = bench::ScratchPath("transfer_rows_bench");
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, path);
  std::vector<std::string> errors;
  if (JetProvider().CreateDataSource({&init, 1}, &errors) != S_OK) {
    std::fprintf(stderr, "cannot create %s\n", path.c_str());
    return 1;
  }
  DbConnection target;
  target.profile.provider_name = kJetProviderName;
  if (OpenDataSource(target, {&init, 1}) != S_OK || OpenSession(target) != S_OK) return 1;
  if (!ExecuteStatement(
          nullptr, target.session.get(),
          "create table `Sales`(`ID` Long NOT NULL, `Customer` VarChar(100) NULL, `Amount` Currency NULL, "
          "`Placed` DateTime NULL, `Paid` Bit NOT NULL)",
          1)) {
    return 1;
  }

  GeneratedSession source(rows);
  OutputPane pane;
  source_sqlserver::SourceContext owner;
  owner.output = &pane;
  owner.target = &target;
  owner.work_folder = "/tmp";
  const double rss_before = bench::PeakRssMegabytes();
  bench::Stopwatch watch;
  const auto result = source_sqlserver::TransferTableRows(owner, &source, target.session.get(), "Bench",
                                                          source_sqlserver::SourceTable("Sales"));
  const double seconds = watch.Seconds();
  std::printf("result: %s\nlast line: %s\n", result.ok() ? "copied" : result.status().ToString().c_str(),
              pane.Lines().back().text.c_str());
  std::printf("peak RSS before the transfer: %.1f MB\n", rss_before);
  bench::PrintRate(rows, seconds);
  CloseConnection(target);
  std::remove(path.c_str());
  std::remove("/tmp/Sales.data");
  return result.ok() ? 0 : 1;
}
