// The built-in provider "Microsoft.Jet.OLEDB.4.0": an .mdb file opened with the engine
// (src/jet) and statements run by the Access SQL front end (src/jetsql).
//
// Inserts are batched: consecutive INSERT statements share one engine transaction, committed
// when any other statement runs, when a rowset or schema rowset is opened, when the session
// or data source closes, and every `max_rows` inserts or `max_age` (checked as inserts
// arrive). A refused INSERT changes nothing and the batch goes on; when a commit fails the
// batch's statements are run again one transaction each, so only the statements that truly
// cannot be stored are lost, and the failure is reported.
#pragma once

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "data/provider.h"

namespace tabulon::data {

inline constexpr char kJetProviderName[] = "Microsoft.Jet.OLEDB.4.0";

// The Jet provider's initialisation property set and the two properties the program uses.
inline constexpr Guid DBPROPSET_JETOLEDB_DBINIT{
    0x82cf8156, 0x9b40, 0x11d0, {0x9e, 0xbd, 0x00, 0xc0, 0x4f, 0xc2, 0xc2, 0xe0}};
inline constexpr PropertyId DBPROP_JETOLEDB_SYSDBPATH = 0xFA;      // workgroup file (VT_BSTR)
inline constexpr PropertyId DBPROP_JETOLEDB_CREATE_SYSDB = 0x10E;  // create a workgroup file (VT_BOOL)

inline constexpr char kJetDbmsName[] = "MS Jet";
inline constexpr char kJetDbmsVersion[] = "04.00.0000";

struct JetBatchPolicy {
  size_t max_rows = 100000;
  std::chrono::milliseconds max_age{2000};
};

class JetProvider : public Provider {
 public:
  explicit JetProvider(JetBatchPolicy policy = {}) : policy_(policy) {}

  // DBPROPSET_DBINIT: DBPROP_INIT_DATASOURCE is the file's path; DBPROP_INIT_MODE with
  // DB_MODE_READ alone opens it read-only (a file the process may not write is opened
  // read-only too, and writes then fail). Other properties are accepted and ignored.
  OpenedDataSource OpenDataSource(std::span<const PropertySet> sets) override;

  // Creates a new, empty database at DBPROP_INIT_DATASOURCE (also a workgroup file when the
  // Jet set asks for one: it is a small database as well). Fails when the file exists.
  Hresult CreateDataSource(std::span<const PropertySet> sets, std::vector<std::string>* errors);

 private:
  JetBatchPolicy policy_;
};

}  // namespace tabulon::data
