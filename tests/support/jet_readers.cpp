#include "jet_readers.h"

namespace tabulon::testing {

bool MdbReaderAvailable() { return false; }
bool MdbToolsAvailable() { return false; }
Result<std::vector<ReaderTable>> ReadWithMdbReader(const std::string&) { return UnsupportedError("not yet"); }
Result<std::string> MdbToolsVersion(const std::string&) { return UnsupportedError("not yet"); }
Result<std::vector<std::string>> MdbToolsTables(const std::string&) { return UnsupportedError("not yet"); }
Result<std::string> MdbToolsSchema(const std::string&) { return UnsupportedError("not yet"); }
Result<ReaderTable> MdbToolsExport(const std::string&, const std::string&) { return UnsupportedError("not yet"); }

}  // namespace tabulon::testing
