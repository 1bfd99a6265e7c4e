// Localized message texts with placeholders, and the launcher's message box.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

inline constexpr std::int32_t kStartupErrorTitle = 101;
inline constexpr std::int32_t kStartupErrorText = 102;

inline constexpr int kStyleCritical = 16;     // error icon, OK button
inline constexpr int kStyleExclamation = 48;  // warning icon, OK button

// The string-table entry `id` in the user's language with its placeholders
// expanded, in a fixed order: line breaks, tabs, then inserts 1 to 4. A missing
// id is traced and passed on as failure 4646.
std::string LoadResString(std::int32_t id,
                          const std::string& insert1,
                          const std::string& insert2,
                          const std::string& insert3,
                          const std::string& insert4);

// A modal box; empty title means the display name, style 0 means 48. Shows
// nothing in silent mode and then returns 0. Never fails.
int ShowMessage(const std::string& message, const std::string& title, int style);

}  // namespace launcher
