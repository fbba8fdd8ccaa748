// Pieces the migration and backup flows share: the object listing of a side, statement pieces,
// and the scratch and script files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/hresult.h"
#include "data/provider.h"

namespace tabulon::converters {

inline constexpr char kCharacterSetLine[] = "Perhaps CHARACTER SET not correct!\nPlease change and try again.";

struct ListedObject {
  std::string schema;
  std::string name;
  std::string type;  // TABLE_TYPE: "TABLE", "VIEW", ...
};

// The TABLES schema rowset of `session` restricted to the table type `type`, read whole (so
// that the flows can run other statements on the session while they walk it). Returns the
// failing code of the open; a failure while reading ends the list early.
data::Hresult ListObjects(data::Session* session, const char* type, std::vector<ListedObject>* objects);

// True for a listed view the view flows take: type "VIEW", not in the system schemas.
bool IsUserView(const ListedObject& object);

// `text` cut at every ';'; pieces holding nothing but blanks and line ends are left out.
std::vector<std::string> StatementPieces(std::string_view text);

// Creates (or empties) the file at `path` and writes `text`; false when it cannot be created.
bool WriteNewFile(const std::string& path, std::string_view text);
// Appends `text` to the file at `path` (created when missing); false when it cannot be opened.
bool AppendToFile(const std::string& path, std::string_view text);

// The name of a database's backup folder: a leading drive ("C:\") removed, then the last
// component of what remains.
std::string DatabaseFolderName(const std::string& database);

// True when `folder` holds a TABLES, DATA, VIEWS or QUERIES folder: a backup that can be restored.
bool HoldsBackup(const std::string& folder);
// The .mdb file a target database name stands for: the name itself when it holds ".mdb", else
// the name with ".mdb" appended (the rule of the target's reconnection).
std::string MdbFilePath(const std::string& database);

// The line a view script file holds: "create view ..." in the script's own case, or, for a
// text that is not a view definition (a failure text), that text as comment lines.
std::string ViewScriptLine(const std::string& script, bool* is_definition);

}  // namespace tabulon::converters
