// Properties (LvProp) read from Access files and written with new tables, and the column
// metadata derived from definitions and properties.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "jet/column_metadata.h"
#include "jet/database.h"
#include "jet/object_properties.h"
#include "jet/values.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
const fs::path kAccess = fs::path(TABULON_SHARED_DIR) / "fixtures/access";

const format::PropertyMap* MapOf(const ObjectProperties& maps, const std::string& column) {
  for (const auto& m : maps) {
    if (m.column && m.name == column) return &m;
  }
  return nullptr;
}

TEST(PropertiesFixture, AccessColumnPropertiesReadBackAsDumped) {
  const fs::path mdb = kAccess / "testIndexPropertiesV2000.mdb";
  if (!fs::exists(mdb)) GTEST_SKIP() << "no fixture " << mdb;
  const nlohmann::json expected = nlohmann::json::parse(std::ifstream(kAccess / "testIndexPropertiesV2000.json"));
  auto db = Database::Open(mdb.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  int compared = 0;
  for (const auto& table : expected["tables"]) {
    auto maps = (*db)->ReadProperties(table["name"].get<std::string>());
    ASSERT_TRUE(maps.ok()) << maps.status().ToString();
    for (const auto& column : table["columns"]) {
      const format::PropertyMap* map = MapOf(*maps, column["name"]);
      ASSERT_NE(map, nullptr) << column["name"];
      for (const auto& [name, want] : column["properties"].items()) {
        if (!want.is_boolean() && !want.is_number_integer() && !want.is_string()) continue;
        if (name == "GUID") continue;  // a binary value the dump prints as text
        const format::Property* p = FindProperty(*map, name);
        ASSERT_NE(p, nullptr) << name;
        // The value's canonical text is the dump's (a string as it is, else its JSON text).
        EXPECT_EQ(FormatValue(PropertyValue(*p)), want.is_string() ? want.get<std::string>() : want.dump())
            << name << " type " << int{p->type} << " size " << p->data.size();
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 50);
}

// The columns of testdata/column_metadata.json, written with their properties: the properties
// and the provider's description of each column read back.
TEST(PropertiesWrite, NewTablePropertiesAndMetadataReadBack) {
  const auto data = nlohmann::json::parse(std::ifstream(TABULON_JET_TESTDATA "/column_metadata.json"))["columns"];
  const fs::path path = testing::ScratchFile("object_properties", "people.mdb");
  {
    auto db = Database::Create(path.string());
    ASSERT_TRUE(db.ok());
    TableDefinition t = testing::NewTable("People");
    for (const auto& c : data) {
      ColumnDefinition& column =
          t.columns.emplace_back(NewColumn(c["name"], testing::ColumnTypeNamed(c["type"]), c.value("size", 0)));
      if (c.value("autonumber", false)) column.flags |= kColumnAutoNumber;
      column.required = c.value("required", false);
      column.default_value = c.value("default", "");
      if (c.contains("allow_zero_length")) column.allow_zero_length = c["allow_zero_length"].get<bool>();
    }
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    ObjectProperties table_props = *(*db)->ReadProperties("People");
    table_props.push_back({"", false, {TextProperty("Description", "Everyone we know", false)}});
    ASSERT_TRUE((*db)->WriteProperties("People", table_props).ok());
    EXPECT_EQ((*db)->WriteProperties("Nobody", table_props).code(), ErrorCode::kNotFound);
  }
  auto db = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  EXPECT_TRUE((*db)->CheckIntegrity().ok());
  auto maps = (*db)->ReadProperties("people");
  ASSERT_TRUE(maps.ok()) << maps.status().ToString();
  EXPECT_EQ(std::get<std::string>(PropertyValue(*FindProperty(*MapOf(*maps, "City"), "DefaultValue"))), "\"n/a\"");
  EXPECT_FALSE(std::get<bool>(PropertyValue(*FindProperty(*MapOf(*maps, "Name"), "AllowZeroLength"))));
  EXPECT_TRUE((*db)->GetTable("People")->columns[1].required);

  auto meta = (*db)->GetColumnMetadata("People");
  ASSERT_TRUE(meta.ok());
  ASSERT_EQ(meta->size(), data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    const auto& want = data[i];
    SCOPED_TRACE(want.dump());
    EXPECT_EQ((*meta)[i].ordinal, i + 1);
    EXPECT_EQ((*meta)[i].ole_type, want["ole_type"].get<uint16_t>());
    EXPECT_EQ((*meta)[i].flags, want["flags"].get<uint32_t>());
    EXPECT_EQ((*meta)[i].size, want.value("size", 0u));
    EXPECT_EQ((*meta)[i].nullable, want["nullable"].get<bool>());
    EXPECT_EQ((*meta)[i].has_default, want.contains("default"));
    EXPECT_EQ((*meta)[i].default_value, want.value("default", ""));
  }

  const std::string out = testing::RunCommand("mdb-prop '" + path.string() + "' People 2>/dev/null").out;
  if (!out.empty()) {
    EXPECT_NE(out.find("DefaultValue: \"n/a\""), std::string::npos) << out;
    EXPECT_NE(out.find("Description: Everyone we know"), std::string::npos) << out;
    EXPECT_NE(out.find("Required: yes"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace tabulon::jet
