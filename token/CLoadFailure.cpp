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

// A module that did not start is the right one, most often, with its
// service stopped (a slot daemon, a software TPM): choosing it again helps
// no one. Where p11-kit's proxy stood in, its registrations may be at fault.
std::string CLoadFailure::Hint(const std::vector<CModuleChoice::SAttempt>& attempts)
{
    if (attempts.size() != 1 || attempts.front().rvInitialize == CKR_OK)
        return kHint;
    return "The module was found but did not start (" + CCkrNames::Of(attempts.front().rvInitialize) +
           "): check that the service or device it relies on is running.";
}

std::string CLoadFailure::Details(const std::vector<CModuleChoice::SAttempt>& attempts)
{
    std::string text = "Tried:\n";
    for (const CModuleChoice::SAttempt& attempt : attempts)
        text += "  " + Line(attempt, true) + "\n";
    return text + "\n" + Hint(attempts);
}
