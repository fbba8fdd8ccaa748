#include "data/odbc_drivers.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

namespace tabulon::data {
namespace {

// An environment handle for one call.
class Environment {
 public:
  Environment() {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle_))) {
      handle_ = SQL_NULL_HENV;
      return;
    }
    SQLSetEnvAttr(handle_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  ~Environment() {
    if (handle_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, handle_);
  }
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  SQLHENV get() const { return handle_; }

 private:
  SQLHENV handle_ = SQL_NULL_HENV;
};

}  // namespace

std::vector<OdbcDriver> ListOdbcDrivers() {
  std::vector<OdbcDriver> drivers;
  Environment env;
  if (env.get() == SQL_NULL_HENV) return drivers;
  SQLCHAR name[512];
  SQLCHAR attributes[4096];
  SQLSMALLINT name_length = 0;
  SQLSMALLINT attributes_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(env.get(), direction, name, sizeof name, &name_length, attributes, sizeof attributes,
                                  &attributes_length))) {
    direction = SQL_FETCH_NEXT;
    OdbcDriver driver;
    driver.name = reinterpret_cast<const char*>(name);
    // "key=value\0key=value\0\0"
    const char* p = reinterpret_cast<const char*>(attributes);
    const char* end = p + sizeof attributes;
    while (p < end && *p != '\0') {
      const size_t length = strnlen(p, static_cast<size_t>(end - p));
      const std::string pair(p, length);
      const size_t equals = pair.find('=');
      if (equals != std::string::npos) {
        driver.attributes[pair.substr(0, equals)] = pair.substr(equals + 1);
      }
      p += length + 1;
    }
    drivers.push_back(std::move(driver));
  }
  return drivers;
}

std::vector<OdbcDataSource> ListOdbcDataSources() {
  std::vector<OdbcDataSource> sources;
  Environment env;
  if (env.get() == SQL_NULL_HENV) return sources;
  SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR description[1024];
  SQLSMALLINT name_length = 0;
  SQLSMALLINT description_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDataSources(env.get(), direction, name, sizeof name, &name_length, description,
                                      sizeof description, &description_length))) {
    direction = SQL_FETCH_NEXT;
    sources.push_back({reinterpret_cast<const char*>(name), reinterpret_cast<const char*>(description)});
  }
  return sources;
}

bool OdbcDriverManagerUsable() {
  Environment env;
  return env.get() != SQL_NULL_HENV;
}

}  // namespace tabulon::data
