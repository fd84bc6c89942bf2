// The framework's filters and pins: filter base and state machine, the output pin with its
// connection protocol, allocator agreement and sample delivery, and the small standard
// interfaces of filters and pins.
#pragma once
#include "framework/FilterBase.h"
#include "framework/OutputPin.h"
#include "framework/PinAllocator.h"
#include "framework/PinBase.h"
#include "framework/StdWrappers.h"
