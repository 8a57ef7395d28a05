#include "Log.h"

// macOS adds nothing to a log event; these hooks exist so that a platform
// that does (a thread or process id, say) has a place for it.

void LogEvent::init(PlatformLogEvent&) {}

void LogEvent::appendFormatted(const PlatformLogEvent&, std::string&) {}

void Logger::initializeLogging() {}

void Logger::initializingLogging() {}
