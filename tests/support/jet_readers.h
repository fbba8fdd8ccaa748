// Opens an .mdb with the independent readers (npm mdb-reader, Debian mdbtools) so tests can
// compare what the engine wrote with what other programs read, value by value.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"

namespace tabulon::testing {

// One value as a reader reports it, normalised to text (see NormaliseNote in jet_readers.cpp):
// integers in decimal; Single/Double as the shortest text that reads back the same double;
// Currency and Decimal as exact decimals without trailing zeros; Boolean "true"/"false";
// DateTime "YYYY-MM-DD HH:MM:SS" (+ ".fff" when milliseconds are not zero); Text/Memo as UTF-8;
// Binary/OLE as lower-case hex; GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
using ReaderValue = std::optional<std::string>;  // nullopt is NULL

struct ReaderColumn {
  std::string name;
  std::string type;  // the reader's own type word
};

struct ReaderTable {
  std::string name;
  std::vector<ReaderColumn> columns;
  std::vector<std::vector<ReaderValue>> rows;
};

// True when node and the installed mdb-reader package are present.
bool MdbReaderAvailable();
// True when mdbtools' programs are on the PATH.
bool MdbToolsAvailable();

// Every user table (not the system tables) with all rows, read by mdb-reader.
Result<std::vector<ReaderTable>> ReadWithMdbReader(const std::string& path);

// mdb-ver's answer, e.g. "JET4".
Result<std::string> MdbToolsVersion(const std::string& path);
// mdb-tables' list of user tables.
Result<std::vector<std::string>> MdbToolsTables(const std::string& path);
// mdb-schema's text.
Result<std::string> MdbToolsSchema(const std::string& path);
// mdb-export of one table as rows of raw text (mdbtools' own formatting; NULL as nullopt).
Result<ReaderTable> MdbToolsExport(const std::string& path, const std::string& table);

}  // namespace tabulon::testing
