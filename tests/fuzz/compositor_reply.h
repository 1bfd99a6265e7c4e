// What the fuzz targets of the compositors' reply readers share: the
// properties every window read from another program's reply must have, and
// the reply as JSON once bytes that are not UTF-8 are replaced.
#pragma once

#include <glib.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "platform/linux/linux_window_source.h"
#include "platform/runtime_error.h"

namespace launcher::fuzz {

// The launcher's own process id as the readers are told it.
inline constexpr std::uint32_t kOwnPid = 4242;

// UTF-8 as GLib reads it; a NUL is a character like any other here.
inline bool IsUtf8(std::string text) {
  for (char& c : text)
    c = c == '\0' ? ' ' : c;
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) != 0;
}

// The reply as JSON, with each byte that starts no UTF-8 character replaced
// by U+FFFD, the way a program that passes titles through must be read;
// discarded when that is still no JSON.
inline nlohmann::json Lenient(const std::string& reply) {
  gchar* valid = g_utf8_make_valid(reply.data(), static_cast<gssize>(reply.size()));
  nlohmann::json json = nlohmann::json::parse(valid, nullptr, false);
  g_free(valid);
  return json;
}

// Runs a reader: its windows, or nothing when it refused the reply with the
// runtime failure it is allowed to raise. Any other exception is a fault.
template <typename Key, typename Read>
std::pair<bool, std::vector<std::pair<Key, WindowFacts>>> ReadReply(Read read) {
  try {
    return {true, read()};
  } catch (const RuntimeError&) {
    return {false, {}};
  } catch (const std::exception& e) {
    std::fprintf(stderr, "property violated: a reader raised %s\n", e.what());
    std::abort();
  }
}

// What every window read from a reply must be.
template <typename Key>
void CheckWindows(const std::vector<std::pair<Key, WindowFacts>>& windows) {
  for (const auto& [key, facts] : windows) {
    FUZZ_CHECK(facts.pid != 0 && facts.pid != kOwnPid);
    FUZZ_CHECK(facts.title.size() <= kWindowTextBytes);
    FUZZ_CHECK(IsUtf8(facts.title));
  }
}

}  // namespace launcher::fuzz
