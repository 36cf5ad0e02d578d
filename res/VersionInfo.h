#pragma once

#include "CertPurgeVersion.h"

// The version block: file and product version, language and code page.
namespace VersionInfo {

constexpr const char* kFileVersion = CERTPURGE_VERSION;
constexpr const char* kProductVersion = CERTPURGE_VERSION;
// Chinese (Simplified, PRC) with the Unicode code page.
constexpr const char* kTranslation = "080404B0";
constexpr const char* kProductName = "Tavrenor";
constexpr const char* kFileDescription = "Tavrenor 删除过期证书";

}  // namespace VersionInfo
