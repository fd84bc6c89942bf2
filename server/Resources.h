// Resource identifiers of the module.
#pragma once

#define IDR_TONEWELL_FILTER 101
#define IDR_TONEWELL_PP 105
#define IDR_TONEWELL_ABOUT 110

#define IDS_PROJNAME 100
#define IDS_TONEWELL_DESC 102
#define IDS_HELPFILE 103
#define IDS_DOCSTRING 104
#define IDS_ABOUT 105
