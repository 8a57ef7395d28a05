#pragma once

// The platform-dependent part of a log event. On macOS there is none; the
// hooks that fill and format it stay as extension points.
struct PlatformLogEvent {};
