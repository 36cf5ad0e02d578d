// The version block, kept in a section of its own in the program's file so
// that `readelf -p .version_info certpurge` shows it.

#include "res/VersionInfo.h"

__attribute__((used, section(".version_info"))) static const char kVersionBlock[] =
    "VS_VERSION_INFO\0"
    "FileVersion=" CERTPURGE_VERSION "\0"
    "ProductVersion=" CERTPURGE_VERSION "\0"
    "Translation=080404B0\0"
    "ProductName=Tavrenor\0"
    "FileDescription=Tavrenor 删除过期证书\0";
