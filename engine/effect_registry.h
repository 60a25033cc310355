// Effects register their routine under their number when the program starts.
// The effects library is linked as object files, so every registration runs.
#pragma once

#include "engine/driver.h"

#define LQ_REGISTER_EFFECT(number, proc)                                      \
  namespace {                                                                 \
  [[maybe_unused]] const bool lq_registered_##proc =                          \
      (::lq::RegisterEffectProc((number), &(proc)), true);                    \
  }
