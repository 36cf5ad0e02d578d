#pragma once

#include "token/Pkcs11.h"

#include <string>

// Why a module could not be loaded, in one line for standard error: the
// loader's message, a library without C_GetFunctionList, or the call that
// refused.
class CLoadFailure {
public:
    // `rv` and `loaderMessage` as CTokenModule::Load and LastLoadError gave them.
    static std::string Describe(const std::string& moduleFile, CK_RV rv, const std::string& loaderMessage);

private:
    // Load folds C_GetFunctionList and C_Initialize failures into one
    // value: asking C_GetFunctionList again tells them apart.
    static std::string DescribeRefusal(const std::string& moduleFile, CK_RV rv);
};
