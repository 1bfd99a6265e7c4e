// The launcher's localized texts, built into every executable from one source.
#pragma once

#include <cstdint>

namespace launcher {

// The entry `id` in `language` (English when the language has none), or null
// when the table has no such id.
const char* FindString(std::int32_t id, int language);

}  // namespace launcher
