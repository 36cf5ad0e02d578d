#pragma once
// The texts of loading and listing the token, byte for byte (UTF-8). The
// window shows them in message boxes; certpurge-list prints the same ones.

namespace Messages {

constexpr const char* kLoadModuleFailed = "加载Ulda动态库失败";
constexpr const char* kReloadModuleFailed = "加载动态库失败!";
constexpr const char* kInsertToken = "请插入Ulda!";
constexpr const char* kCommunicationFailed = "与Ulda通信失败!";
constexpr const char* kFindCertificatesFailed = "查找Ulda证书失败!";

// Caption of notices
constexpr const char* kNoticeCaption = "提示...";

}  // namespace Messages
