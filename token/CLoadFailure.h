#pragma once

#include <string>

class CTokenModule;

// Why a module could not be loaded, in one line for standard error: the
// loader's message, a library without C_GetFunctionList, or the call that
// refused, told by the step that failed rather than by the value returned.
class CLoadFailure {
public:
    // After a failed CTokenModule::Load of `moduleFile`.
    static std::string Describe(const CTokenModule& module, const std::string& moduleFile, unsigned long rv);
};
