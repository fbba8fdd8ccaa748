// Access database files: the target's connection properties, the workgroup system database,
// creating, dropping and switching .mdb files, and the check of the Access providers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/odbc_drivers.h"
#include "data/properties.h"
#include "target_access/target_context.h"

namespace tabulon::target_access {

inline constexpr char kSystemDatabaseTemplate[] = "%USERPROFILE%\\Application Data\\Microsoft\\Access\\System.MDW";

// Reads one environment variable; nullopt when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view)>;
std::optional<std::string> ProcessEnvironment(std::string_view name);

// Replaces every %NAME% by the variable's value (unset: empty), again from the start while a
// '%' with a closing '%' after it remains. A value that keeps producing new names stops after
// 64 replacements, so the expansion always ends.
std::string ExpandEnvironmentText(std::string_view text, const EnvironmentLookup& lookup = ProcessEnvironment);

// The workgroup file: owner.system_database_path when set, else the expansion of the template
// (USERPROFILE falling back to HOME) with backslashes read as '/'.
std::string SystemDatabasePath(const TargetContext& owner, const EnvironmentLookup& lookup = ProcessEnvironment);

// True when `provider` names the built-in Jet provider (without regard to case).
bool IsJetProvider(std::string_view provider);

// Fills `set` (DBPROPSET_DBINIT) from the target profile. For the Jet provider the profile's
// catalog then becomes the data source without its ".mdb" ending. Always true.
bool BuildTargetConnectionProperties(TargetContext& owner, data::PropertySet* set);
// Every set the target is opened with: the DBINIT set and, for the Jet provider, the Jet set
// naming the workgroup file.
std::vector<data::PropertySet> BuildTargetPropertySets(TargetContext& owner);

// Creates the workgroup file when nothing is at its path; an empty folder there is replaced by
// the file; a file is left as it is.
void EnsureSystemDatabase(TargetContext& owner);
// Creates the workgroup file (a small Jet database) and its folders; failures are written.
void CreateSystemDatabase(TargetContext& owner);

// Creates a new empty .mdb. Mode 0: `name` is the path the user chose (empty: nothing is made,
// false); any other mode puts the file `name` beside the current database of the side in use.
// A path without ".mdb" gets it appended.
bool CreateAccessDatabase(TargetContext& owner, const std::string& name, int mode);
// Creates a new empty .mdb at `path` (".mdb" appended when missing) and writes the line that says so.
bool CreateAccessDatabaseAt(TargetContext& owner, std::string path);
// True when `name` (as the target tree shows it) is the target's connected database.
bool IsConnectedDatabase(TargetContext& owner, const std::string& name);
// Deletes `name` + ".mdb" (`name` as the target tree shows it); dropping the connected file
// disconnects the target first (the command tells the user beforehand).
bool DropAccessDatabase(TargetContext& owner, const std::string& name);
// Points one side at another database and connects it.
bool SwitchAccessDatabase(TargetContext& owner, std::string name, Side side);

// The driver check's fields for the target: "name|state|usability|" per provider or driver.
std::string CheckAccessProviders();
// The same from given facts (the registered providers and the driver manager's drivers).
std::string FormatAccessProviders(bool jet_registered, bool bridge_registered, bool bridge_usable,
                                  const std::vector<data::OdbcDriver>& drivers,
                                  const EnvironmentLookup& lookup = ProcessEnvironment);

// A name made safe as a file name: path separators, control characters and the names "." and
// ".." cannot leave the folder it is put in ('_' stands in for them).
std::string MakeSafeFileName(std::string_view name);

}  // namespace tabulon::target_access
