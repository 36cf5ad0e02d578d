#include "token/CModuleChoice.h"

#include "platform/CLibrary.h"
#include "token/CLoadFailure.h"
#include "token/CTokenChoice.h"
#include "token/CTokenModule.h"

#include <cstdlib>

CModuleChoice::EWhy CModuleChoice::WhyNamed(const std::string& moduleFile)
{
    if (moduleFile != kDefaultFileName)
        return EWhy::Named;
    return CLibrary::ResolvePath(moduleFile.c_str()) != moduleFile ? EWhy::DefaultBeside : EWhy::DefaultSearched;
}

// For --verbose.
const char* CModuleChoice::Reason(EWhy why)
{
    switch (why) {
    case EWhy::Named: return "named by --module or CERTPURGE_MODULE";
    case EWhy::DefaultBeside: return "the default name, found in the program's folder";
    case EWhy::DefaultSearched: return "the default name, found by the system's library search";
    case EWhy::ProxyForDefault: break;
    }
    return "p11-kit's proxy, the default name being nowhere";
}

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
        m_eWhy = WhyNamed(moduleFile);
        module.SetRemovableOnly(false);
        module.Log().Debug(CTokenLog::ETopic::Token, "module: loaded " + moduleFile + " (" + Reason(m_eWhy) + ")");
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
    m_eWhy = EWhy::ProxyForDefault;
    module.SetRemovableOnly(true);
    module.Log().Debug(CTokenLog::ETopic::Token, std::string(kDefaultFileName) + " not found; using p11-kit's proxy " +
                                                     proxy + ", which loads the modules registered with p11-kit");
    module.Log().Debug(CTokenLog::ETopic::Token, "module: through the proxy only removable tokens are taken, unless "
                                                 "--token or " + std::string(CTokenChoice::kVariable) + " names one");
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
