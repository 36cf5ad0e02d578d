#pragma once

// The string table: the text of a string resource, or "" for an unknown one.
const char* LoadResString(int nId);
