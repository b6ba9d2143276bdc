// The update date the suite writes into profile records: the system time as a
// file time, two hexadecimal numbers (high 32 bits first) separated by a space.
#pragma once

#include <string>

namespace standin {

// Now, or `age_days` days before now.
std::string update_date_text(unsigned age_days = 0);

}  // namespace standin
