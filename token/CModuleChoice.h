#pragma once

#include "token/Pkcs11.h"
#include "token/SLoadResult.h"

#include <optional>
#include <string>
#include <vector>

class CTokenModule;

// Which PKCS#11 module a program loads: the --module option, else the
// CERTPURGE_MODULE variable, else the token maker's file name, looked up in
// the program's folder first and then by the system's search order. No
// Linux system has a file of that name: when none is found, p11-kit's
// proxy stands in, which reaches every module registered with p11-kit.
class CModuleChoice {
public:
    static constexpr const char* kDefaultFileName = "qemva_11.dll";
    static constexpr const char* kVariable = "CERTPURGE_MODULE";

    // Why the file loaded was the one.
    enum class EWhy {
        Named,            // by --module or the variable
        DefaultBeside,    // the default name, in the program's folder
        DefaultSearched,  // the default name, by the system's library search
        ProxyForDefault,  // p11-kit's proxy, the default name being nowhere
    };

    // One file tried; the reason is empty when it loaded.
    struct SAttempt {
        std::string strFile;
        std::string strReason;
        // What C_Initialize answered when it refused a module found and
        // loaded; CKR_OK for every other attempt.
        CK_RV rvInitialize = CKR_OK;
    };

    // An empty variable counts as unset.
    static std::string Resolve(const std::optional<std::string>& option);
    // p11-kit's proxy module, as p11-kit's build placed it.
    static std::string ProxyModule();
    // The loader's message says no file of that bare name was found, as
    // opposed to a file found that could not be loaded (it then names the
    // path, or the dependency that is missing).
    static bool IsNotFound(const std::string& fileName, const std::string& loaderMessage);

    // Loads `moduleFile` into `module`, or the proxy in place of a default
    // name that is not found; says which and why in the module's log. The
    // proxy so taken reaches whatever is registered with p11-kit, software
    // and TPM tokens among them: the module then takes only removable
    // tokens unless a URI names another. False when nothing loaded:
    // Attempts() says why.
    bool Load(CTokenModule& module, const std::string& moduleFile);
    // The file loaded, or the last one tried.
    const std::string& LoadedFile() const { return m_strLoadedFile; }
    // Why the file loaded was taken; after a successful Load.
    EWhy Why() const { return m_eWhy; }
    const std::vector<SAttempt>& Attempts() const { return m_attempts; }

private:
    SLoadResult LoadOne(CTokenModule& module, const std::string& moduleFile);

    static EWhy WhyNamed(const std::string& moduleFile);
    static const char* Reason(EWhy why);

    std::string m_strLoadedFile;
    EWhy m_eWhy = EWhy::Named;
    std::vector<SAttempt> m_attempts;
};
