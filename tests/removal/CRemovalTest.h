#pragma once

#include "CDialogTest.h"
#include "platform/CMessageBox.h"
#include "inventory/InventoryMessages.h"
#include "removal/RemovalMessages.h"
#include "res/resource.h"

#include <string>
#include <vector>

// A token with two out-of-date certificates and two valid ones, each with
// its own RSA key pair, whose public key it carries:
//   id 1 "Exp"  expired
//   id 2 "Dup"  superseded by id 3
//   id 3 "Dup"  valid
//   id 4 "Val"  valid
class CRemovalTest : public CDialogTest {
protected:
    static constexpr const char* kPin = "<PIN>";

    void AddStandardCerts()
    {
        AddCert("Exp", "20200101000000Z", "20210101000000Z", {1});
        AddCert("Dup", "20300101000000Z", "20400101000000Z", {2});
        AddCert("Dup", "20300201000000Z", "20400101000000Z", {3});
        AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    }

    // Presses the button, with a fresh record of prompts and module calls.
    void Click()
    {
        m_prompts.Forget();
        Trace().Truncate();
        Dlg().OnDeleteExpired();
    }

    std::vector<std::string> Texts() const { return m_prompts.Texts(); }
    bool ModuleClosed() const { return Trace().Count("C_Finalize") > 0; }

    // Certificate, public key and private key with this CKA_ID still there.
    bool CertThere(unsigned char id) { return Token().Count(CKO_CERTIFICATE, {id}) > 0; }
    bool PubThere(unsigned char id) { return Token().Count(CKO_PUBLIC_KEY, {id}) > 0; }
    bool PrivThere(unsigned char id) { return Token().Count(CKO_PRIVATE_KEY, {id}) > 0; }
    bool AllThere(unsigned char id) { return CertThere(id) && PubThere(id) && PrivThere(id); }
    bool NoneThere(unsigned char id) { return !CertThere(id) && !PubThere(id) && !PrivThere(id); }
    // Both keys of a pair of this key type under this CKA_ID still there.
    bool PairThere(unsigned char id, CK_KEY_TYPE keyType)
    {
        return Token().Count(CKO_PUBLIC_KEY, {id}, keyType) == 1 && Token().Count(CKO_PRIVATE_KEY, {id}, keyType) == 1;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const SRow& r : Rows())
            names.push_back(r.name);
        return names;
    }
};
