#pragma once
// The dumps of the headless runner are the replay library's state record.
#include "replay/state_hash.h"

namespace runner {

using replay::StateHash;
using replay::StateJson;

}  // namespace runner
