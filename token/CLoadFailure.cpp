#include "token/CLoadFailure.h"

#include "platform/CLibrary.h"
#include "token/CCkrNames.h"
#include "token/CTokenModule.h"

std::string CLoadFailure::Describe(const CTokenModule& module, const std::string& moduleFile, unsigned long rv)
{
    switch (module.LastLoadStep()) {
    case CTokenModule::ELoadStep::Library: return module.LastLoadError();
    case CTokenModule::ELoadStep::EntryPoint: return "no C_GetFunctionList in " + CLibrary::ResolvePath(moduleFile.c_str());
    case CTokenModule::ELoadStep::FunctionList: return "C_GetFunctionList returned " + CCkrNames::Of(rv);
    case CTokenModule::ELoadStep::NullFunctionList: return "C_GetFunctionList returned no function list";
    case CTokenModule::ELoadStep::Initialize: return "C_Initialize returned " + CCkrNames::Of(rv);
    case CTokenModule::ELoadStep::None: break;
    }
    return CTokenModule::RV_MODULE_BUSY == rv ? "the module did not answer" : CCkrNames::Of(rv);
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
