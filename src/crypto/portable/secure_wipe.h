#pragma once

#include "support/portable/secure_wipe.h"

namespace crypto {

using support::secure_wipe;

}  // namespace crypto
