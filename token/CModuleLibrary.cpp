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

CK_RV CModuleLibrary::Load(const char* fileName)
{
    m_eLoadStep = ELoadStep::None;
    if (IsLoaded()) {
        CK_RV rv = Reinitialize();
        if (rv != CKR_OK) {
            m_eLoadStep = ELoadStep::Initialize;
            m_log.Failed("Load", "C_Initialize", CK_UNAVAILABLE_INFORMATION, rv);
            Unload();
        }
        return rv;
    }
    CK_RV rv = LoadLibrary(fileName);
    if (rv != CKR_OK)
        return rv;
    rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    // Initialised already, by whoever: the module is ready for use all the same.
    if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        m_log.Debug(ETopic::Token, "Load: the module was initialised already");
        rv = CKR_OK;
    }
    if (rv != CKR_OK) {
        m_log.Failed("Load", "C_Initialize", CK_UNAVAILABLE_INFORMATION, rv);
        m_eLoadStep = ELoadStep::Initialize;
        Unload();
        return rv;
    }
    m_bInitialized = true;
    LogModuleInfo(fileName);
    return CKR_OK;
}

CK_RV CModuleLibrary::LoadLibrary(const char* fileName)
{
    // Never unmapped: modules leave threads running after C_Finalize.
    int error = m_hModule.Load(fileName, CLibrary::ELifetime::Process);
    if (error != 0) {
        m_eLoadStep = ELoadStep::Library;
        m_log.Debug(ETopic::Token, "Load: " + m_hModule.LastError());
        return static_cast<CK_RV>(error);
    }
    m_pfnGetFunctionList = reinterpret_cast<CK_C_GetFunctionList>(m_hModule.Symbol("C_GetFunctionList"));
    if (m_pfnGetFunctionList == nullptr) {
        m_eLoadStep = ELoadStep::EntryPoint;
        m_log.Debug(ETopic::Token, "Load: no C_GetFunctionList in " + CLibrary::ResolvePath(fileName));
        Unload();
        return RV_NO_FUNCTION_LIST;
    }
    CK_RV rv = m_pfnGetFunctionList(&m_pFunctionList);
    m_eLoadStep = ELoadStep::FunctionList;
    if (rv == CKR_OK && m_pFunctionList == nullptr) {
        m_eLoadStep = ELoadStep::NullFunctionList;
        rv = CKR_FUNCTION_FAILED;
    }
    if (rv != CKR_OK) {
        m_log.Failed("Load", "C_GetFunctionList", CK_UNAVAILABLE_INFORMATION, rv);
        Unload();
        return rv;
    }
    m_eLoadStep = ELoadStep::None;
    return CKR_OK;
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
    CK_RV rv = Call(&CK_FUNCTION_LIST::C_Initialize, nullptr);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED)
        return rv;
    m_bInitialized = true;
    return CKR_OK;
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
