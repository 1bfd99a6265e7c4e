// Trace lines: executable name, universal-time stamp and a message.
#pragma once

#include <string>

namespace launcher {

// YYMMDD.HHMMSS.mmm of the current universal time.
std::string GetTimeStamp();

// Composes "<exe name> <timestamp> - <message>" and hands it to the platform's
// trace channel. Never fails.
void WriteTrace(const std::string& message);

}  // namespace launcher
