// Text forms for trace lines: converters and name tables, dumps of platform structures,
// and the filter-graph description.
#pragma once
#include "diagnostics/TextConverters.h"
#include "diagnostics/DSDumps.h"
#include "diagnostics/FilterChainParser.h"
