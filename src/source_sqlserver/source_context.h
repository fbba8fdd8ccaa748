// What the SQL Server source adapter needs from its owner: the context every source adapter
// shares (source_common/source_context.h).
#pragma once

#include "source_common/source_context.h"

namespace tabulon::source_sqlserver {

using source_common::SourceContext;
using source_common::TargetIsJet;

}  // namespace tabulon::source_sqlserver
