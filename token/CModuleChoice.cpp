#include "token/CModuleChoice.h"

#include "platform/CLibrary.h"
#include "token/CLoadFailure.h"
#include "token/CTokenModule.h"

#include <cstdlib>

namespace {

// Why this file was the one loaded, for --verbose.
std::string Origin(const std::string& moduleFile)
{
    if (moduleFile != CModuleChoice::kDefaultFileName)
        return "named by --module or " + std::string(CModuleChoice::kVariable);
    if (CLibrary::ResolvePath(moduleFile.c_str()) != moduleFile)
        return "the default name, found in the program's folder";
    return "the default name, found by the system's library search";
}

}  // namespace

std::string CModuleChoice::Resolve(const std::optional<std::string>& option)
{
    if (option)
        return *option;
    const char* variable = std::getenv(kVariable);
    if (variable != nullptr && *variable != '\0')
        return variable;
    return kDefaultFileName;
}

std::string CModuleChoice::ProxyModule()
{
    return CERTPURGE_P11KIT_PROXY;
}

// dlopen reports a bare name it found nowhere by that name; a file it
// found but could not use by its path, a missing dependency by its name.
bool CModuleChoice::IsNotFound(const std::string& fileName, const std::string& loaderMessage)
{
    return fileName.find('/') == std::string::npos && loaderMessage.rfind(fileName + ": ", 0) == 0;
}

bool CModuleChoice::Load(CTokenModule& module, const std::string& moduleFile)
{
    m_attempts.clear();
    SLoadResult result = LoadOne(module, moduleFile);
    if (result.Loaded()) {
        module.Log().Debug(CTokenLog::ETopic::Token, "module: loaded " + moduleFile + " (" + Origin(moduleFile) + ")");
        return true;
    }
    // Only a default that is missing gives way: one that is there but
    // broken is the user's to mend, and is reported as it is.
    const bool bMissingDefault = moduleFile == kDefaultFileName && result.eStep == SLoadResult::EStep::Library &&
                                 IsNotFound(moduleFile, result.strLoaderMessage);
    if (!bMissingDefault)
        return false;
    const std::string proxy = ProxyModule();
    if (!LoadOne(module, proxy).Loaded())
        return false;
    module.Log().Debug(CTokenLog::ETopic::Token, std::string(kDefaultFileName) + " not found; using p11-kit's proxy " +
                                                     proxy + ", which loads the modules registered with p11-kit");
    return true;
}

SLoadResult CModuleChoice::LoadOne(CTokenModule& module, const std::string& moduleFile)
{
    m_strLoadedFile = moduleFile;
    SLoadResult result = module.Load(moduleFile.c_str());
    if (result.Loaded())
        m_attempts.push_back({moduleFile, std::string()});
    else if (result.eStep == SLoadResult::EStep::Initialize)
        m_attempts.push_back({moduleFile, CLoadFailure::Describe(result, moduleFile), result.rv});
    else
        m_attempts.push_back({moduleFile, CLoadFailure::Describe(result, moduleFile)});
    return result;
}
