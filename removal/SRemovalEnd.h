#pragma once

#include <string>
#include <utility>

// How one press of the delete button ends: the step that stopped it, or
// the removal done. Each has one row in CExpiredRemoval's table of ends,
// which says what the user is told and what follows; a new way to end is
// a value here and a row there, in the same place (Removed stays last).
enum class ERemovalEnd {
    NoToken,                 // no token at the last listing: nothing asked
    SessionFailed,           // the scan's session could not be opened
    FindCertificatesFailed,  // the certificate search was refused
    NoCertificates,          // the token holds none
    NothingMarked,           // none is red
    WriteProtected,          // the token takes no change: nothing asked
    PlanRefused,             // a search for what goes with a red certificate was refused
    Declined,                // the confirmation, or the last PIN try, declined
    PinNotGiven,             // the PIN dialog cancelled
    PinLocked,               // before the PIN was asked for, or by the login
    WrongPin,                // the login refused the PIN typed
    LoginRefused,            // any other refusal of the login
    TokenGone,               // the login found the token or its session gone
    StaleSession,            // the token or its session changed while the user was asked
    StaleAfterLogin,         // the same, seen only after a keypad login went through
    FindPubKeyFailed,        // a record's key search refused, or its keys not told apart
    DeletePubKeyFailed,
    FindPrivKeyFailed,
    DeletePrivKeyFailed,
    DeleteCertFailed,
    NotKept,                 // a certificate could not be kept before its destroy
    Removed,                 // every red record handled
};

// An end, with what the box telling it unfolds: the module's answer where
// one ended the run (English, as the log is); empty for a box without. A
// box that must say more than its row's text (which file, and why) says it
// on the lines of `strMore`.
struct SRemovalEnd {
    // From the end alone, so a step can simply return the way it ended.
    SRemovalEnd(ERemovalEnd end, std::string details = {}, std::string more = {})
        : eEnd(end), strDetails(std::move(details)), strMore(std::move(more))
    {
    }

    ERemovalEnd eEnd;
    std::string strDetails;
    std::string strMore;
};
