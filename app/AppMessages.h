#pragma once
// The window's own text, byte for byte (UTF-8).

namespace Messages {

constexpr const char* kMonitorFailed = "失败!";

// What a screen reader says of the list and of a red row.
constexpr const char* kCertListName = "证书列表";
constexpr const char* kExpiredReason = "过期";
constexpr const char* kSupersededReason = "已被更新的证书取代";
constexpr const char* kReasonSeparator = "，";

}  // namespace Messages
