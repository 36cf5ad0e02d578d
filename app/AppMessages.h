#pragma once
// The window's own text, byte for byte (UTF-8).

namespace Messages {

constexpr const char* kMonitorFailed = "失败!";

}  // namespace Messages
