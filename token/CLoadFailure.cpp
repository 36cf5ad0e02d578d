#include "token/CLoadFailure.h"

#include "platform/CLibrary.h"
#include "token/CCkrNames.h"

std::string CLoadFailure::Describe(const SLoadResult& result, const std::string& moduleFile)
{
    using EStep = SLoadResult::EStep;
    switch (result.eStep) {
    case EStep::Library: return result.strLoaderMessage;
    case EStep::EntryPoint: return "no C_GetFunctionList in " + CLibrary::ResolvePath(moduleFile.c_str());
    case EStep::FunctionList: return "C_GetFunctionList returned " + CCkrNames::Of(result.rv);
    case EStep::NullFunctionList: return "C_GetFunctionList returned no function list";
    case EStep::Initialize: return "C_Initialize returned " + CCkrNames::Of(result.rv);
    case EStep::Busy: return "the module did not answer";
    case EStep::None: break;
    }
    return {};
}

std::string CLoadFailure::Line(const CModuleChoice::SAttempt& attempt, bool bSeveral)
{
    if (!bSeveral || attempt.strReason.find(attempt.strFile) != std::string::npos)
        return attempt.strReason;
    return attempt.strFile + ": " + attempt.strReason;
}

std::string CLoadFailure::Details(const std::vector<CModuleChoice::SAttempt>& attempts)
{
    std::string text = "Tried:\n";
    for (const CModuleChoice::SAttempt& attempt : attempts)
        text += "  " + Line(attempt, true) + "\n";
    return text + "\n" + kHint;
}
