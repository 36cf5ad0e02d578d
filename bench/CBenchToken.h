#pragma once

#include "CSimulatedToken.h"

#include <string>

// A SoftHSM2 token behind the token simulator holding `count` certificates,
// each with an RSA key pair unless `bWithKeys` is false, every third one
// out of date. Sets the simulator's and SoftHSM2's variables in this
// process's environment, which the programs it starts inherit.
class CBenchToken {
public:
    explicit CBenchToken(int count, bool bWithKeys = true);
    CBenchToken(const CBenchToken&) = delete;
    CBenchToken& operator=(const CBenchToken&) = delete;

    int Count() const { return m_nCount; }
    testsupport::CSimulatedToken& Sim() { return m_sim; }
    // SoftHSM2's private copy, the simulator's backend.
    const std::string& SoftHsmModule() { return m_sim.SoftHsm().ModulePath(); }
    static const char* SimulatorModule() { return testsupport::CSimulatedToken::ModulePath(); }
    // A new folder inside the token's own, removed with it.
    std::string MakeFolder(const std::string& name);

private:
    void AddCertificate(int index, bool bWithKeys);

    testsupport::CSimulatedToken m_sim;
    int m_nCount;
};
