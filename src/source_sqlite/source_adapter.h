// The SQLite source as the flows use it (source_common/source_adapter.h).
#pragma once

#include "source_common/source_adapter.h"

namespace tabulon::source_sqlite {

const source_common::SourceAdapter& SqliteSourceAdapter();

}  // namespace tabulon::source_sqlite
