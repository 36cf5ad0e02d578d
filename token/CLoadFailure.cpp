#include "token/CLoadFailure.h"

#include "token/CCkrNames.h"
#include "platform/CLibrary.h"
#include "token/CTokenModule.h"

std::string CLoadFailure::Describe(const std::string& moduleFile, CK_RV rv, const std::string& loaderMessage)
{
    if (!loaderMessage.empty())
        return loaderMessage;
    if (rv == CTokenModule::RV_NO_FUNCTION_LIST)
        return "no C_GetFunctionList in " + CLibrary::ResolvePath(moduleFile.c_str());
    return DescribeRefusal(moduleFile, rv);
}

std::string CLoadFailure::DescribeRefusal(const std::string& moduleFile, CK_RV rv)
{
    CLibrary library;
    if (library.Load(moduleFile.c_str()) != 0)
        return library.LastError();
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(library.Symbol("C_GetFunctionList"));
    if (getList == nullptr)
        return "no C_GetFunctionList in " + CLibrary::ResolvePath(moduleFile.c_str());
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_RV listRv = getList(&list);
    if (listRv != CKR_OK)
        return "C_GetFunctionList returned " + CCkrNames::Of(listRv);
    if (list == nullptr)
        return "C_GetFunctionList returned no function list";
    return "C_Initialize returned " + CCkrNames::Of(rv);
}
