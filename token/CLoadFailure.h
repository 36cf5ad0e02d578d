#pragma once

#include "token/CModuleChoice.h"
#include "token/SLoadResult.h"

#include <string>
#include <vector>

// Why a module could not be loaded, in one line for standard error: the
// loader's message, a library without C_GetFunctionList, or the call that
// refused, told by the step that failed rather than by the value returned.
// And what the user can do about it.
class CLoadFailure {
public:
    // How a module is chosen, for whoever has none that loads.
    static constexpr const char* kHint =
        "Choose the token's PKCS#11 module with --module PATH or the CERTPURGE_MODULE variable, "
        "or register it with p11-kit: a file NAME.module in /usr/share/p11-kit/modules "
        "or ~/.config/pkcs11/modules holding the line \"module: /path/to/the/module.so\".";

    // After a failed CTokenModule::Load of `moduleFile`.
    static std::string Describe(const SLoadResult& result, const std::string& moduleFile);
    // One attempt's line: the reason, led by the file's name when there
    // were several and the reason does not name it.
    static std::string Line(const CModuleChoice::SAttempt& attempt, bool bSeveral);
    // What to do after these attempts: kHint, but for the one module tried,
    // found and not started, no other module to choose.
    static std::string Hint(const std::vector<CModuleChoice::SAttempt>& attempts);
    // The message box's details: each file tried with its reason, then the hint.
    static std::string Details(const std::vector<CModuleChoice::SAttempt>& attempts);
};
