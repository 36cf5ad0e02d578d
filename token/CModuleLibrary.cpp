#include "token/CModuleLibrary.h"

#include "token/PaddedText.h"

namespace {

using ETopic = CTokenLog::ETopic;

std::string Version(const CK_VERSION& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}

}  // namespace

CModuleLibrary::CModuleLibrary(std::chrono::milliseconds lockTimeout) : m_lockTimeout(lockTimeout) {}

CModuleLibrary::~CModuleLibrary()
{
    // Whoever shared the module has let it go: nobody holds the lock.
    std::lock_guard<CBoundedMutex> lock(m_mutex);
    if (m_bInitialized)
        Finalize();
    Unload();
}

std::optional<CModuleLibrary::CGuard> CModuleLibrary::Lock()
{
    std::unique_lock<CBoundedMutex> lock(m_mutex, m_lockTimeout);
    if (!lock)
        return std::nullopt;
    return CGuard(*this, std::move(lock));
}

SLoadResult CModuleLibrary::Load(const char* fileName)
{
    using EStep = SLoadResult::EStep;
    if (IsLoaded()) {
        CK_RV rv = Reinitialize();
        if (rv != CKR_OK) {
            m_log.Failed("Load", "C_Initialize", CK_UNAVAILABLE_INFORMATION, rv);
            Unload();
            return SLoadResult::Failed(EStep::Initialize, rv);
        }
        return {};
    }
    SLoadResult result = LoadLibrary(fileName);
    if (!result.Loaded())
        return result;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    // Initialised already, by whoever: the module is ready for use all the same.
    if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        m_log.Debug(ETopic::Token, "Load: the module was initialised already");
        rv = CKR_OK;
    }
    if (rv != CKR_OK) {
        m_log.Failed("Load", "C_Initialize", CK_UNAVAILABLE_INFORMATION, rv);
        Unload();
        return SLoadResult::Failed(EStep::Initialize, rv);
    }
    m_bInitialized = true;
    LogModuleInfo(fileName);
    return {};
}

SLoadResult CModuleLibrary::LoadLibrary(const char* fileName)
{
    using EStep = SLoadResult::EStep;
    // Never unmapped: modules leave threads running after C_Finalize.
    if (int error = m_hModule.Load(fileName, CLibrary::ELifetime::Process); error != 0) {
        m_log.Debug(ETopic::Token, "Load: " + m_hModule.LastError());
        SLoadResult result = SLoadResult::Failed(EStep::Library);
        result.nLoaderError = error;
        result.strLoaderMessage = m_hModule.LastError();
        return result;
    }
    m_pfnGetFunctionList = reinterpret_cast<CK_C_GetFunctionList>(m_hModule.Symbol("C_GetFunctionList"));
    if (m_pfnGetFunctionList == nullptr) {
        m_log.Debug(ETopic::Token, "Load: no C_GetFunctionList in " + CLibrary::ResolvePath(fileName));
        Unload();
        return SLoadResult::Failed(EStep::EntryPoint);
    }
    CK_RV rv = m_pfnGetFunctionList(&m_pFunctionList);
    if (rv == CKR_OK && m_pFunctionList == nullptr) {
        m_log.Failed("Load", "C_GetFunctionList", CK_UNAVAILABLE_INFORMATION, CKR_FUNCTION_FAILED);
        Unload();
        return SLoadResult::Failed(EStep::NullFunctionList, CKR_FUNCTION_FAILED);
    }
    if (rv != CKR_OK) {
        m_log.Failed("Load", "C_GetFunctionList", CK_UNAVAILABLE_INFORMATION, rv);
        Unload();
        return SLoadResult::Failed(EStep::FunctionList, rv);
    }
    return {};
}

// What the module says of itself, when anyone reads the log.
void CModuleLibrary::LogModuleInfo(const char* fileName) const
{
    if (!m_log.On(ETopic::Token))
        return;
    CK_INFO info{};
    if (Step("Load", "C_GetInfo", CK_UNAVAILABLE_INFORMATION, &CK_FUNCTION_LIST::C_GetInfo, &info) != CKR_OK)
        return;
    m_log.Debug(ETopic::Token, "Load: " + CLibrary::ResolvePath(fileName) + ": " + PaddedText(info.manufacturerID) +
                                   ", " + PaddedText(info.libraryDescription) + " " + Version(info.libraryVersion) +
                                   ", Cryptoki " + Version(info.cryptokiVersion));
}

CK_RV CModuleLibrary::Reinitialize()
{
    const bool bWasInitialized = m_bInitialized;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED)
        return rv;
    m_bInitialized = true;
    return rv == CKR_OK && bWasInitialized ? GiveBackInitialization() : CKR_OK;
}

// p11-kit's proxy counts its initialisations and finalises only at the
// last C_Finalize: an initialisation taken again is given back, or the
// finalisations that end every session and login would end none. A module
// that took it as a first one is finalised by that, and initialised again.
CK_RV CModuleLibrary::GiveBackInitialization()
{
    m_log.Debug(ETopic::Token, "Load: the module counts initialisations; one given back");
    Call(&CK_FUNCTION_LIST::C_Finalize, nullptr);
    CK_INFO info{};
    if (Call(&CK_FUNCTION_LIST::C_GetInfo, &info) != CKR_CRYPTOKI_NOT_INITIALIZED)
        return CKR_OK;
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    m_bInitialized = rv == CKR_OK;
    return rv;
}

void CModuleLibrary::Finalize()
{
    Call(&CK_FUNCTION_LIST::C_Finalize, nullptr);
    m_bInitialized = false;
}

void CModuleLibrary::Unload()
{
    m_pFunctionList = nullptr;
    m_pfnGetFunctionList = nullptr;
    m_hModule.Free();
    m_bInitialized = false;
}
