// Small helpers the desktop session and its window readers share.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace launcher::testing {

// Polls `done` every 50 ms until it holds or `limit` has passed.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
// The value of a GNOME Shell Eval answer, decoded; none for a failed Eval.
std::optional<std::string> EvalValue(const std::string& output);

}  // namespace launcher::testing
