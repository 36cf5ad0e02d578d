#pragma once

// The version block: file and product version, language and code page.
namespace VersionInfo {

constexpr const char* kFileVersion = "1.0.11.303";
constexpr const char* kProductVersion = "1.0.11.303";
// Chinese (Simplified, PRC) with the Unicode code page.
constexpr const char* kTranslation = "080404B0";
constexpr const char* kProductName = "Tavrenor";
constexpr const char* kFileDescription = "Tavrenor 删除过期证书";

}  // namespace VersionInfo
