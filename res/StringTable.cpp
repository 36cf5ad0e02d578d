#include "res/StringTable.h"

#include "res/resource.h"

const char* LoadResString(int nId)
{
    switch (nId) {
    case IDS_ABOUTBOX: return "关于 Tavrenor(&A)...";
    default: return "";
    }
}
