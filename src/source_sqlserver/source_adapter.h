// The SQL Server source as the flows use it (source_common/source_adapter.h).
#pragma once

#include "source_common/source_adapter.h"

namespace tabulon::source_sqlserver {

const source_common::SourceAdapter& SqlServerSourceAdapter();

}  // namespace tabulon::source_sqlserver
