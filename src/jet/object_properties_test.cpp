// Properties (LvProp) read from Access files and written with new tables, and the column
// metadata derived from definitions and properties.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "jet/column_metadata.h"
#include "jet/database.h"
#include "jet/object_properties.h"
#include "jet/values.h"
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
  std::ifstream in(kAccess / "testIndexPropertiesV2000.json");
  const nlohmann::json expected = nlohmann::json::parse(in);
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

TEST(PropertiesWrite, NewTablePropertiesAndMetadataReadBack) {
  const fs::path path = testing::ScratchFile("object_properties", "people.mdb");
  {
    auto db = Database::Create(path.string());
    ASSERT_TRUE(db.ok());
    TableDefinition t;
    t.name = "People";
    ColumnDefinition id = NewColumn("ID", ColumnType::kLong);
    id.flags |= kColumnAutoNumber;
    ColumnDefinition name = NewColumn("Name", ColumnType::kText, 50);
    name.required = true;
    name.allow_zero_length = false;
    ColumnDefinition city = NewColumn("City", ColumnType::kText, 30);
    city.default_value = "\"n/a\"";
    city.allow_zero_length = true;
    ColumnDefinition age = NewColumn("Age", ColumnType::kInteger);
    age.required = true;
    age.default_value = "0";
    t.columns = {id,
                 name,
                 city,
                 age,
                 NewColumn("Notes", ColumnType::kMemo),
                 NewColumn("Active", ColumnType::kBoolean),
                 NewColumn("Photo", ColumnType::kOle)};
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
  struct Want {
    uint16_t type;
    uint32_t flags;
    uint32_t size;
    bool nullable;
  };
  const std::vector<Want> want = {{3, 24, 0, false},   {130, 74, 50, false}, {130, 106, 30, true}, {2, 90, 0, false},
                                  {130, 234, 0, true}, {11, 24, 0, false},   {128, 234, 0, true}};
  ASSERT_EQ(meta->size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE((*meta)[i].name);
    EXPECT_EQ((*meta)[i].ordinal, i + 1);
    EXPECT_EQ((*meta)[i].ole_type, want[i].type);
    EXPECT_EQ((*meta)[i].flags, want[i].flags);
    EXPECT_EQ((*meta)[i].size, want[i].size);
    EXPECT_EQ((*meta)[i].nullable, want[i].nullable);
  }
  EXPECT_TRUE((*meta)[3].has_default);
  EXPECT_EQ((*meta)[3].default_value, "0");
  EXPECT_FALSE((*meta)[1].has_default);

  FILE* pipe = popen(("mdb-prop '" + path.string() + "' People 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (pipe) pclose(pipe);
  if (!out.empty()) {
    EXPECT_NE(out.find("DefaultValue: \"n/a\""), std::string::npos) << out;
    EXPECT_NE(out.find("Description: Everyone we know"), std::string::npos) << out;
    EXPECT_NE(out.find("Required: yes"), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace tabulon::jet
