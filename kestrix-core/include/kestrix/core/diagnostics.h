// Structured diagnostic events of the core library. The facility itself
// lives in the base library so that every layer can log; code that takes an
// optional sink lets tests observe its events.
#pragma once

#include "kestrix/log.h"

namespace kestrix::core {

using log::emit;
using log::Event;
using log::EventSink;
using log::Level;

}  // namespace kestrix::core
