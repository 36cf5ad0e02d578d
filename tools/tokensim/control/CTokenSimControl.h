#pragma once

#include "CTokenSimState.h"

#include <functional>
#include <string>
#include <string_view>

// Changes the simulator's state file, for the `tokensim` command and for
// tests. Each change reads the file, edits it and replaces it atomically,
// with writers serialised by a lock on "<state>.lock"; a running module
// picks the change up at its next call. Errors throw std::runtime_error,
// bad rules std::invalid_argument.
class CTokenSimControl {
public:
    explicit CTokenSimControl(std::string statePath);

    void Insert(CK_SLOT_ID slot) { Insert(CSlotSelector::Id(slot)); }
    void Remove(CK_SLOT_ID slot) { Remove(CSlotSelector::Id(slot)); }
    void Insert(const CSlotSelector& slots);
    void Remove(const CSlotSelector& slots);

    void AddFault(const CFaultRule& rule);
    // A rule in the command's syntax, e.g. "C_DestroyObject:2:CKR_ACTION_PROHIBITED".
    void AddFault(std::string_view rule);
    void ClearFaults();
    // Every token in, no faults, normal mode, module order.
    void Clear();
    void SetMode(ETokenSimMode mode);
    void SetFindOrder(ETokenSimFindOrder order);
    void SetTokenFlags(const CSlotSelector& slots, CK_FLAGS flags);
    void SetTokenFlags(CK_SLOT_ID slot, CK_FLAGS flags) { SetTokenFlags(CSlotSelector::Id(slot), flags); }
    // The kind of slot: CKF_REMOVABLE_DEVICE and CKF_HW_SLOT as given, set or cleared.
    void SetSlotFlags(const CSlotSelector& slots, CK_FLAGS flags);
    void SetSlotFlags(CK_SLOT_ID slot, CK_FLAGS flags) { SetSlotFlags(CSlotSelector::Id(slot), flags); }
    // The user types this PIN on the reader's keypad: the keypad logins
    // waiting now take it.
    void EnterOnKeypad(const std::string& pin);

    // The state as the file holds it now (the default one when there is no file).
    CTokenSimState State() const;
    const std::string& Path() const { return m_strPath; }

private:
    void Modify(const std::function<void(CTokenSimState&)>& change);

    std::string m_strPath;
};
