#pragma once

#include "token/Pkcs11.h"

#include <string>

// What loading the module came to: the step that failed, and what answered
// there. The module answers in CK_RV; the system's loader answers in an
// error number and a message of its own, which are kept apart: no CK_RV
// stands for them.
struct SLoadResult {
    enum class EStep {
        None,              // loaded and initialised
        Busy,              // another caller held the module
        Library,           // the loader would not load the file
        EntryPoint,        // the file has no C_GetFunctionList
        FunctionList,      // C_GetFunctionList refused
        NullFunctionList,  // C_GetFunctionList gave no function list
        Initialize,        // C_Initialize refused
    };

    EStep eStep = EStep::None;
    // The module's answer, at FunctionList and Initialize.
    CK_RV rv = CKR_OK;
    // The loader's error number and message, at Library.
    int nLoaderError = 0;
    std::string strLoaderMessage;

    bool Loaded() const { return eStep == EStep::None; }

    static SLoadResult Failed(EStep step, CK_RV rv = CKR_OK)
    {
        SLoadResult result;
        result.eStep = step;
        result.rv = rv;
        return result;
    }
};
