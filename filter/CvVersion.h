// ICvVersion: what the module reports about its build (type, platform, product name,
// version number, build date). Every text method returns a new BSTR that the caller frees.
// The interface and its enumerations are declared in the module's IDL.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

#include "TonewellIdl.h"
